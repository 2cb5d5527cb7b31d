// Millisecond wall clock and sleeps for the link layer's time-outs.
#pragma once

#include <cstdint>

#include "aError.h"

uint64_t aTime_GetMSTicks();
aErr aTime_MSSleep(unsigned long ms);
