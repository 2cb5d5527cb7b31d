# Module discovery over USB and TCP/IP.
if(NOT TARGET zv_link OR NOT TARGET zv_streams OR NOT EXISTS ${CMAKE_CURRENT_LIST_DIR}/aLinkSpec.h)
  return()
endif()
add_library(zv_discovery STATIC
  ${CMAKE_CURRENT_LIST_DIR}/aDiscovery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aDiscovery_USB.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aDiscovery_TCPIP.cpp
)
target_include_directories(zv_discovery PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zv_discovery PUBLIC zv_link zv_streams PkgConfig::LIBUSB)
