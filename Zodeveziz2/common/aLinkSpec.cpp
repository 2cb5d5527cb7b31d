#include "aLinkSpec.h"

#include <cstdlib>
#include <cstring>

linkSpec* aLinkSpec_Create(linkType type) {
    linkSpec* spec = (linkSpec*)calloc(1, sizeof(linkSpec));
    if (spec) spec->type = type;
    return spec;
}

linkSpec* aLinkSpec_Copy(const linkSpec* spec) {
    if (!spec) return nullptr;
    linkSpec* copy = (linkSpec*)malloc(sizeof(linkSpec));
    if (copy) memcpy(copy, spec, sizeof(linkSpec));
    return copy;
}

aErr aLinkSpec_Destroy(linkSpec** spec) {
    if (!spec || !*spec) return aErrParam;
    free(*spec);
    *spec = nullptr;
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

aErr aLinkSpec_Serialize(const linkSpec* spec, uint8_t out[aLINKSPEC_SIZE]) {
    if (!spec || !out) return aErrParam;
    memset(out, 0, aLINKSPEC_SIZE);
    const uint32_t head[6] = {spec->type,   spec->serialNumber,       spec->module,
                              spec->router, spec->routerSerialNumber, spec->model};
    for (int i = 0; i < 6; i++)
        sPut32(out + 4 * i, head[i]);
    if (spec->type == SERIAL) {
        sPut32(out + 24, spec->baudRate);
        memcpy(out + 28, spec->portName, aLINKSPEC_PORTNAME_SIZE);
    } else {
        // The address is kept in network byte order: its bytes go out as stored.
        memcpy(out + 24, &spec->ipAddress, 4);
        sPut32(out + 28, spec->ipPort);
        memcpy(out + 32, spec->portName + 4, aLINKSPEC_PORTNAME_SIZE - 4);
    }
    return aErrNone;
}

aErr aLinkSpec_Parse(const uint8_t in[aLINKSPEC_SIZE], linkSpec* spec) {
    if (!in || !spec) return aErrParam;
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
    *spec = parsed;
    return aErrNone;
}
