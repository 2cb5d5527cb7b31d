#include "aLinkSpec.h"

#include <cstdlib>
#include <cstring>

linkSpec* aLinkSpec_Create(linkType type) {
    linkSpec* lspec = (linkSpec*)calloc(1, sizeof(linkSpec));
    if (lspec) lspec->type = type;
    return lspec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* lspec) {
    if (!lspec) return nullptr;
    linkSpec* copy = (linkSpec*)malloc(sizeof(linkSpec));
    if (copy) memcpy(copy, lspec, sizeof(linkSpec));
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** lspec) {
    if (!lspec || !*lspec) return aErrParam;
    free(*lspec);
    *lspec = nullptr;
    return aErrNone;
}

static void sPut32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        at[i] = (uint8_t)(value >> (8 * i));
}

static uint32_t sGet32(const uint8_t* at) {
    return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) |
           ((uint32_t)at[3] << 24);
}

aErr aLinkSpec_Serialize(const linkSpec* lspec, uint8_t out[aLINKSPEC_SIZE]) {
    if (!lspec || !out) return aErrParam;
    memset(out, 0, aLINKSPEC_SIZE);
    const uint32_t head[6] = {lspec->type,   lspec->serialNumber,       lspec->module,
                              lspec->router, lspec->routerSerialNumber, lspec->model};
    for (int i = 0; i < 6; i++)
        sPut32(out + 4 * i, head[i]);
    if (lspec->type == SERIAL) {
        sPut32(out + 24, lspec->baudRate);
        memcpy(out + 28, lspec->portName, aLINKSPEC_PORTNAME_SIZE);
    } else {
        // The address is kept in network byte order: its bytes go out as stored.
        memcpy(out + 24, &lspec->ipAddress, 4);
        sPut32(out + 28, lspec->ipPort);
        memcpy(out + 32, lspec->portName + 4, aLINKSPEC_PORTNAME_SIZE - 4);
    }
    return aErrNone;
}

aErr aLinkSpec_Parse(const uint8_t in[aLINKSPEC_SIZE], linkSpec* lspec) {
    if (!in || !lspec) return aErrParam;
    linkSpec parsed;
    memset(&parsed, 0, sizeof parsed);
    uint32_t* head[6] = {&parsed.type,   &parsed.serialNumber,       &parsed.module,
                         &parsed.router, &parsed.routerSerialNumber, &parsed.model};
    for (int i = 0; i < 6; i++)
        *head[i] = sGet32(in + 4 * i);
    if (parsed.type == SERIAL) {
        parsed.baudRate = sGet32(in + 24);
        memcpy(parsed.portName, in + 28, aLINKSPEC_PORTNAME_SIZE);
        if (!memchr(parsed.portName, 0, aLINKSPEC_PORTNAME_SIZE)) return aErrParse;
    } else {
        memcpy(&parsed.ipAddress, in + 24, 4);
        parsed.ipPort = sGet32(in + 28);
        memcpy(parsed.portName + 4, in + 32, aLINKSPEC_PORTNAME_SIZE - 4);
    }
    *lspec = parsed;
    return aErrNone;
}
