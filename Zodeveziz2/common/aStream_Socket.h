// TCP transport: a connected, non-blocking client socket that reconnects by
// itself when a read or write meets a lost connection.
#pragma once

#include "aStream.h"

#define aSOCKET_CHECK 0xDEAD

// Longest wait of one get for an arriving byte.
#define aSOCKET_GET_WAIT_MS 20
// Longest wait for a connect to complete.
#define aSOCKET_CONNECT_WAIT_MS 3000

// address is an IPv4 address already in network byte order; port in host order.
// aErrResource when the connection cannot be made.
aErr aStream_CreateSocket(uint32_t address, uint16_t port, aStream** stream);
