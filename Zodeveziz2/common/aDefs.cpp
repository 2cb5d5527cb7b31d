#include "aDefs.h"

namespace {
struct ModelRow {
    uint32_t code;
    const char* name;
};
// Names are ours; BIRD files carry the same names in their model field.
const ModelRow sModels[] = {
    {4, "Quill 4"},       {5, "Quill 5"},      {13, "Harbor Hub"}, {14, "Harbor Hub 2"},
    {15, "Relay 8"},      {16, "Relay 16"},    {17, "Sensor Dock"}, {18, "Power Base"},
    {19, "Power Base+"},  {20, "Meter S"},     {21, "Meter M"},    {22, "Meter L"},
    {23, "Switch 4"},     {24, "Switch 8"},    {25, "Link Router"}, {26, "Bridge One"},
    {27, "Bridge Two"},
};
} // namespace

const char* aDefs_GetModelName(uint32_t model) {
    for (const ModelRow& row : sModels)
        if (row.code == model) return row.name;
    return "Unknown";
}
