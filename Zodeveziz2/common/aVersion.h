// Packed firmware version words (legacy 4/4/24 and current 0x2F-marked 8/8/8)
// and the library's own version.
#pragma once

#include <cstddef>
#include <cstdint>

bool aVersion_IsLegacyFormat(uint32_t word);
uint8_t aVersion_ParseMajor(uint32_t word);
uint8_t aVersion_ParseMinor(uint32_t word);
uint32_t aVersion_ParsePatch(uint32_t word);
int aVersion_ParseString(uint32_t word, char* buffer, size_t size);
uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);

uint8_t aVersion_GetMajor();
uint8_t aVersion_GetMinor();
uint8_t aVersion_GetPatch();
const char* aVersion_GetString();

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);
bool aVersion_IsAtLeastCompare(uint8_t haveMajor, uint8_t haveMinor, uint8_t havePatch,
                               uint8_t needMajor, uint8_t needMinor, uint8_t needPatch);

bool aVersion_HasFeature(const char* name);
// Newly allocated "NAME - Description" rows joined by "\n"; free with DestroyFeatureList.
char* aVersion_GetFeatureList();
void aVersion_DestroyFeatureList(char** list);
