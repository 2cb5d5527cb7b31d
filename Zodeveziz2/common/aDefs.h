// Model-code table: module model code to display name.
#pragma once

#include <cstdint>

const char* aDefs_GetModelName(uint32_t model);
