# Byte streams and their transports (file, TCP, serial, USB).
add_library(zv_streams STATIC
  ${CMAKE_CURRENT_LIST_DIR}/aStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aStream_File.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aStream_Socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aStream_Serial.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aStream_USBDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aStream_USB.cpp
)
target_include_directories(zv_streams PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zv_streams PUBLIC zv_common PkgConfig::LIBUSB)
