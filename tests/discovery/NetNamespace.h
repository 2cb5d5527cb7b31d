// Gives the calling process a network namespace of its own, so discovery
// multicast never leaves the test. Call first thing in main(), before threads.
#pragma once

#define NETNS_SKIP 77
// A second loopback address, so discovery has an interface to send on.
#define NETNS_MODULE_ADDRESS "127.0.0.2"

// 0 on success; NETNS_SKIP when the namespace cannot be made here.
int NetNamespace_Enter();

// Adds another address to the loopback interface under a label ("lo:2").
bool NetNamespace_AddAddress(const char* label, const char* address);
