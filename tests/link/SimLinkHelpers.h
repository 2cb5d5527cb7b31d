// Small helpers for the link tests that talk to the simulated module.
#pragma once

#include <chrono>
#include <thread>

#include "aLink.h"
#include "aUEI.h"

template <class F> bool sEventually(F condition, int timeoutMs = 3000) {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// A UEI get of an int option of the system entity, answered within 1000 ms.
inline aErr sGetSystemInt(uint32_t id, uint8_t module, uint8_t option, uint32_t* value) {
    uei request{};
    request.module = module;
    request.command = cmdSYSTEM;
    request.option = aUEI_GET | option;
    request.specifier = aUEI_REQUEST;
    request.type = ueiVoid;
    aPacket* packet = aUEI_CreateRequest(&request);
    aErr result = aLink_PutPacket(id, packet);
    aPacket_Destroy(&packet);
    if (result != aErrNone) return result;
    uei key = request;
    key.option = option;
    key.specifier = 0;
    aPacket* reply = aLink_AwaitFirst(id, aUEI_ReplyFilter, &key, 1000);
    if (!reply) return aErrTimeout;
    aPacket_Destroy(&reply);
    if (key.specifier & aUEI_ERROR) return key.value.error;
    if (key.type != ueiInt) return aErrPacket;
    *value = key.value.intVal;
    return aErrNone;
}
