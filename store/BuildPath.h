// Joins path parts with "/", always adding the separator (even after a trailing "/").
#pragma once

#include <string>
#include <string_view>

template <class... Rest> std::string BuildPath(std::string_view first, const Rest&... rest) {
    std::string path(first);
    ((path += '/', path += std::string_view(rest)), ...);
    return path;
}
