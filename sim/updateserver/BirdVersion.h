// Reads the version text from a BIRD file's information block.
#pragma once

#include <string>

// Empty when the file is not a readable BIRD file or has no information block.
std::string BirdVersion_Read(const std::string& path);
