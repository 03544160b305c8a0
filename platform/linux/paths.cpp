// Windows paths onto the Wine prefix, as Wine itself maps them.
//
//   X:\a\b   <prefix>/dosdevices/x:/a/b; the drive's link is followed by the
//            host as usual. "X:a" is taken from the drive's root: a freshly
//            started program's current directory on any other drive is its root.
//   \a\b     on the drive that holds the current directory. That drive is the
//            one whose link resolves to the longest leading part of the real
//            current directory, whole components only; of two that resolve to
//            the same directory the earlier letter wins. No such drive: the
//            path cannot be mapped.
//   a\b      below the current directory, reached through that same drive.
//   \\s\x    a UNC name: cannot be mapped.
//
// "." is dropped and ".." goes up one level, never above the drive's root, as
// Windows resolves them before the file system sees the path. Each component
// that exists is found without regard to ASCII letter case, the exact
// spelling first, so the update replaces "203I_CON.MES" when asked for
// "203i_con.MES"; one that does not exist keeps the spelling it was given.

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/linux_platform.h"
#include "platform/platform.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

// A host path under construction in a caller's buffer.
struct HostPath {
    char* text;
    size_t capacity;
    size_t length;
};

bool Append(HostPath* path, const char* bytes, size_t count) {
    if (path->length + count >= path->capacity) return false;
    std::memcpy(path->text + path->length, bytes, count);
    path->length += count;
    path->text[path->length] = '\0';
    return true;
}

// The host's directory of drive `letter` (lower case): <prefix>/dosdevices/x:.
bool DriveLink(char letter, HostPath* path) {
    path->length = 0;
    if (!FindWinePrefix(path->text, path->capacity)) return false;
    path->length = std::strlen(path->text);
    const char link[] = {'/', 'd', 'o', 's', 'd', 'e', 'v', 'i', 'c', 'e', 's', '/', letter, ':'};
    return Append(path, link, sizeof link);
}

// The drive that holds the current directory and the part of the current
// directory below that drive's root (no leading slash, maybe empty), as the
// comment at the top of this file describes.
bool FindCurrentDrive(char* letter, char* below_root, size_t capacity) {
    char current[PATH_MAX];
    if (realpath(".", current) == nullptr) return false;
    const size_t current_length = std::strlen(current);
    size_t best_length = 0;
    bool found = false;
    for (char candidate = 'a'; candidate <= 'z'; ++candidate) {
        char link_text[PATH_MAX];
        HostPath link{link_text, sizeof link_text, 0};
        char root[PATH_MAX];
        if (!DriveLink(candidate, &link) || realpath(link_text, root) == nullptr) continue;
        size_t root_length = std::strlen(root);
        if (root_length == 1) root_length = 0; // "/" holds everything
        const bool holds = current_length >= root_length && std::memcmp(current, root, root_length) == 0 &&
                           (current[root_length] == '\0' || current[root_length] == '/');
        if (holds && (!found || root_length > best_length)) {
            found = true;
            best_length = root_length;
            *letter = candidate;
        }
    }
    if (!found) return false;
    const char* rest = current + best_length;
    while (*rest == '/') ++rest;
    const size_t rest_length = std::strlen(rest);
    if (rest_length >= capacity) return false;
    std::memcpy(below_root, rest, rest_length + 1);
    return true;
}

// Whether `path` names an existing directory entry, links not followed.
bool EntryExists(const char* path) {
    struct stat status;
    return lstat(path, &status) == 0;
}

// Appends "/" and the component `name[0 .. length)` to `path`, spelled as the
// directory already spells it when it holds the name in another letter case.
// Tells through `exists` whether the component was found.
bool AppendComponent(HostPath* path, const char* name, size_t length, bool parent_exists, bool* exists) {
    const size_t parent_length = path->length;
    if (!Append(path, "/", 1) || !Append(path, name, length)) return false;
    *exists = parent_exists && EntryExists(path->text);
    if (*exists || !parent_exists) return true;

    path->text[parent_length] = '\0';
    DIR* directory = opendir(path->text);
    path->text[parent_length] = '/';
    if (directory == nullptr) return true;
    // Of several spellings of one name the smallest in byte order wins, so the
    // choice does not hang on the order the directory lists them in.
    char chosen[NAME_MAX + 1];
    chosen[0] = '\0';
    while (const dirent* entry = readdir(directory)) {
        if (std::strlen(entry->d_name) != length || !SameIgnoringCase(entry->d_name, name, length)) continue;
        if (chosen[0] == '\0' || std::strcmp(entry->d_name, chosen) < 0) std::memcpy(chosen, entry->d_name, length + 1);
    }
    closedir(directory);
    if (chosen[0] != '\0') {
        std::memcpy(path->text + parent_length + 1, chosen, length);
        *exists = true;
    }
    return true;
}

// Appends the components of `windows_path` to `path`, whose first `root_length`
// bytes are the drive's root.
bool AppendComponents(HostPath* path, size_t root_length, const char* windows_path, bool* parent_exists) {
    const char* at = windows_path;
    while (*at != '\0') {
        while (IsSeparator(*at)) ++at;
        const char* start = at;
        while (*at != '\0' && !IsSeparator(*at)) ++at;
        const size_t length = size_t(at - start);
        if (length == 0 || (length == 1 && start[0] == '.')) continue;
        if (length == 2 && start[0] == '.' && start[1] == '.') {
            while (path->length > root_length && path->text[path->length - 1] != '/') --path->length;
            if (path->length > root_length) --path->length;
            path->text[path->length] = '\0';
            *parent_exists = EntryExists(path->text);
            continue;
        }
        bool exists = false;
        if (!AppendComponent(path, start, length, *parent_exists, &exists)) return false;
        *parent_exists = exists;
    }
    return true;
}

} // namespace

bool FindWinePrefix(char* prefix, size_t capacity) {
    const char* wine_prefix = getenv("WINEPREFIX");
    if (wine_prefix != nullptr && wine_prefix[0] != '\0') {
        const size_t length = std::strlen(wine_prefix);
        if (length >= capacity) return false;
        std::memcpy(prefix, wine_prefix, length + 1);
        return true;
    }
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] == '\0') return false;
    const char suffix[] = "/.wine";
    const size_t length = std::strlen(home);
    if (length + sizeof suffix > capacity) return false;
    std::memcpy(prefix, home, length);
    std::memcpy(prefix + length, suffix, sizeof suffix);
    return true;
}

bool MapWindowsPath(const char* path, char* host_path, size_t capacity) {
    if (capacity == 0) return false;
    HostPath host{host_path, capacity, 0};
    host_path[0] = '\0';
    if (IsSeparator(path[0]) && IsSeparator(path[1])) return false;

    char letter = '\0';
    const char* rest = path;
    char below_root[PATH_MAX];
    below_root[0] = '\0';
    const char first = FoldCase(path[0]);
    if (first >= 'a' && first <= 'z' && path[1] == ':') {
        letter = first;
        rest = path + 2;
    } else if (!FindCurrentDrive(&letter, below_root, sizeof below_root)) {
        return false;
    } else if (IsSeparator(path[0])) {
        below_root[0] = '\0';
    }

    if (!DriveLink(letter, &host)) return false;
    struct stat status;
    if (stat(host_path, &status) != 0) return false;
    const size_t root_length = host.length;
    bool parent_exists = true;
    return AppendComponents(&host, root_length, below_root, &parent_exists) &&
           AppendComponents(&host, root_length, rest, &parent_exists);
}

bool PlatformPathExists(const char* path) {
    char host_path[PATH_MAX];
    struct stat status;
    return MapWindowsPath(path, host_path, sizeof host_path) && stat(host_path, &status) == 0;
}

void PlatformMakeDirectory(const char* path) {
    char host_path[PATH_MAX];
    if (MapWindowsPath(path, host_path, sizeof host_path)) mkdir(host_path, 0777);
}
