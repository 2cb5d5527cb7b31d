# Packets, UEI encoding, packet FIFOs and the link engine on the byte streams.
add_library(zv_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/aPacket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aUEI.cpp
  ${CMAKE_CURRENT_LIST_DIR}/packetfifo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aLinkSpec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aLink.cpp
  ${CMAKE_CURRENT_LIST_DIR}/aLink_Threads.cpp
)
target_include_directories(zv_link PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zv_link PUBLIC zv_common zv_streams)
