// USB transport: a stream over the bulk endpoints of one module, found by its
// serial number.
#pragma once

#include "aStream.h"

#define aUSB_STREAM_CHECK 0xDEAD

// aErrParam for serial 0 or no stream out, aErrMemory when the stream cannot be
// made, aErrResource when the device record cannot be made, else the open's
// error (aErrNotFound, aErrConfiguration, aErrBusy, aErrPermission, ...).
aErr aStream_CreateUSB(uint32_t serialNumber, aStream** stream);
