// Turning argv into Parameters.
#pragma once

#include <cstdint>

#include "Parameters.h"
#include "UpdaterDisplayInterface.h"

// 0 when the command line is acceptable, 1 otherwise; shows its own error messages.
int _get_params(UpdaterDisplayInterface& display, int argc, char** argv, Parameters* params);
int _validate_params(Parameters* params);

// Whole text of hex (decimal) digits: its value truncated to 32 bits, *end set past it.
// Anything else, or a null end: 0 and *end untouched.
uint32_t _get_hex_arg(const char* text, char** end);
uint32_t _get_int_arg(const char* text, char** end);
