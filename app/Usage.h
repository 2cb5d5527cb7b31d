// Version, copyright and usage texts.
#pragma once

#include "UpdaterDisplayInterface.h"

void _display_app_version(UpdaterDisplayInterface& display);
void _display_copyright(UpdaterDisplayInterface& display);
// Written straight to stderr: basic block, then (full) parameters, (full and extended)
// extended, (full) samples.
void _display_usage(bool extended, bool full);
