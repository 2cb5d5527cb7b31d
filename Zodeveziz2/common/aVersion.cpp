#include "aVersion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const uint8_t sMajor = 2;
const uint8_t sMinor = 11;
const uint8_t sPatch = 3;
const char* sPhaseSeparator = ".";

struct Feature {
    const char* name;
    const char* description;
};
const Feature sFeatures[] = {{"VERSION", "Version Query API"}};
const size_t sFeatureCount = sizeof(sFeatures) / sizeof(sFeatures[0]);
} // namespace

bool aVersion_IsAtLeastCompare(uint8_t haveMajor, uint8_t haveMinor, uint8_t havePatch,
                               uint8_t needMajor, uint8_t needMinor, uint8_t needPatch) {
    if (haveMajor != needMajor) return haveMajor > needMajor;
    if (haveMinor != needMinor) return haveMinor > needMinor;
    return havePatch >= needPatch;
}

bool aVersion_IsLegacyFormat(uint32_t word) {
    // 0x2F reads as legacy 2.15: from there on the word is in the current format.
    return aVersion_IsAtLeastCompare(2, 15, 0, (word >> 28) & 0xF, (word >> 24) & 0xF, 255);
}

uint8_t aVersion_ParseMajor(uint32_t word) {
    return aVersion_IsLegacyFormat(word) ? (word >> 28) & 0xF : (word >> 16) & 0xFF;
}

uint8_t aVersion_ParseMinor(uint32_t word) {
    return aVersion_IsLegacyFormat(word) ? (word >> 24) & 0xF : (word >> 8) & 0xFF;
}

uint32_t aVersion_ParsePatch(uint32_t word) {
    return aVersion_IsLegacyFormat(word) ? word & 0xFFFFFF : word & 0xFF;
}

int aVersion_ParseString(uint32_t word, char* buffer, size_t size) {
    return snprintf(buffer, size, "%d.%d.%d", (int)aVersion_ParseMajor(word),
                    (int)aVersion_ParseMinor(word), (int)aVersion_ParsePatch(word));
}

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
    if (major > 2 || (major == 2 && minor > 14))
        return 0x2F000000u | (uint32_t)major << 16 | (uint32_t)minor << 8 | patch;
    return (uint32_t)major << 28 | (uint32_t)(minor & 0xF) << 24 | patch;
}

uint8_t aVersion_GetMajor() { return sMajor; }
uint8_t aVersion_GetMinor() { return sMinor; }
uint8_t aVersion_GetPatch() { return sPatch; }

const char* aVersion_GetString() {
    static char text[15];
    static bool built = false;
    if (!built) {
        snprintf(text, sizeof(text), "%d.%d%s%d", sMajor, sMinor, sPhaseSeparator, sPatch);
        built = true;
    }
    return text;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return aVersion_IsAtLeastCompare(sMajor, sMinor, sPatch, major, minor, patch);
}

bool aVersion_HasFeature(const char* name) {
    if (!name) return false;
    for (const Feature& f : sFeatures)
        if (strcmp(f.name, name) == 0) return true;
    return false;
}

char* aVersion_GetFeatureList() {
    size_t length = 1;
    for (size_t i = 0; i < sFeatureCount; i++) {
        length += strlen(sFeatures[i].name) + strlen(sFeatures[i].description) + 3;
        if (i + 1 < sFeatureCount) length += 1;
    }
    char* text = static_cast<char*>(calloc(length, 1));
    if (!text) return nullptr;
    for (size_t i = 0; i < sFeatureCount; i++) {
        strcat(text, sFeatures[i].name);
        strcat(text, " - ");
        strcat(text, sFeatures[i].description);
        if (i + 1 < sFeatureCount) strcat(text, "\n");
    }
    return text;
}

void aVersion_DestroyFeatureList(char** list) {
    if (!list) return;
    free(*list);
    *list = nullptr;
}
