#include "aDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// mkdir that counts "already there as a directory" as success.
bool sMakeDirectory(const std::string& path, mode_t mode) {
    if (mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && aDirectory_Exists(path.c_str());
}
} // namespace

bool aDirectory_Exists(const char* path) {
    if (!path || !*path) return false;
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

aErr aDirectory_Ensure(const char* path, mode_t mode) {
    if (!path || !*path) return aErrParam;
    if (aDirectory_Exists(path)) return aErrNone;
    const std::string full(path);

    // Longest leading part, cut at a "/", that already exists.
    size_t start = 0;
    for (size_t cut = full.rfind('/'); cut != std::string::npos && cut > 0;
         cut = full.rfind('/', cut - 1)) {
        if (aDirectory_Exists(full.substr(0, cut).c_str())) {
            start = cut + 1;
            break;
        }
    }
    while (start < full.size() && full[start] == '/') start++;

    aErr result = aErrNone;
    for (size_t slash = full.find('/', start); slash != std::string::npos;
         slash = full.find('/', slash + 1)) {
        if (slash == 0 || full[slash - 1] == '/') continue;
        if (!sMakeDirectory(full.substr(0, slash), mode)) {
            result = aErrPermission;
            break;
        }
    }
    if (!aDirectory_Exists(path) && !sMakeDirectory(full, mode)) return aErrPermission;
    return result;
}

aErr aDirectory_List(const char* path, aDirectoryListCallback callback, void* context) {
    if (!path || !callback) return aErrParam;
    DIR* dir = opendir(path);
    if (!dir) return aErrNotFound;
    char entryPath[2048];
    for (struct dirent* d = readdir(dir); d; d = readdir(dir)) {
        if (aDirectory_JoinPath(entryPath, sizeof(entryPath), path, d->d_name) != aErrNone)
            continue;
        struct stat st;
        if (stat(entryPath, &st) != 0) continue;
        aDirectoryListData data;
        data.path = entryPath;
        data.size = (uint32_t)st.st_size;
        data.isDirectory = S_ISDIR(st.st_mode) ? 1 : 0;
        if (!callback(&data, context)) break;
    }
    closedir(dir);
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0) return aErrParam;
    const char* home = nullptr;
    struct passwd pw;
    struct passwd* found = nullptr;
    char scratch[4096];
    if (getpwuid_r(getuid(), &pw, scratch, sizeof(scratch), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        home = found->pw_dir;
    if (!home) home = getenv("HOME");
    if (!home || !*home) return aErrNotFound;
    if (strlen(home) >= size) return aErrOverrun;
    strcpy(buffer, home);
    return aErrNone;
}

aErr aDirectory_JoinPath(char* buffer, size_t size, const char* first, const char* second) {
    if (!buffer || !first || !second || buffer == first || buffer == second) return aErrParam;
    size_t a = strlen(first);
    size_t b = strlen(second);
    bool sep = !(a > 0 && first[a - 1] == '/') && !(b > 0 && second[0] == '/');
    size_t need = a + (sep ? 1 : 0) + b + 1;
    if (need > size) return aErrOverrun;
    memcpy(buffer, first, a);
    if (sep) buffer[a++] = '/';
    memcpy(buffer + a, second, b + 1);
    return aErrNone;
}
