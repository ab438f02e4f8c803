#include "jet/base/path.h"

namespace jet {
namespace {

bool IsSeparator(char c, PathStyle style) {
    return c == '/' || (style == PathStyle::kWindows && c == '\\');
}

// Length of the part of a path that names a drive or a share and not a folder in it: "C:"
// (2), "\\server\share" (up to the share's end); 0 for POSIX paths and for other paths.
size_t PrefixLength(const std::string& path, PathStyle style) {
    if (style != PathStyle::kWindows) return 0;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
        return 2;
    if (path.size() >= 2 && IsSeparator(path[0], style) && IsSeparator(path[1], style)) {
        size_t at = 2;
        for (int part = 0; part < 2 && at < path.size(); ++part) {
            while (at < path.size() && !IsSeparator(path[at], style)) ++at;
            if (part == 0 && at < path.size()) ++at;
        }
        return at;
    }
    return 0;
}

// Index of the last separator after the prefix, or npos.
size_t LastSeparator(const std::string& path, size_t prefix, PathStyle style) {
    for (size_t i = path.size(); i > prefix; --i)
        if (IsSeparator(path[i - 1], style)) return i - 1;
    return std::string::npos;
}

}  // namespace

std::string DirectoryOf(const std::string& path, PathStyle style) {
    const size_t prefix = PrefixLength(path, style);
    const size_t sep = LastSeparator(path, prefix, style);
    if (sep == std::string::npos) return prefix == 0 ? "." : path.substr(0, prefix);
    if (sep == prefix) return path.substr(0, prefix + 1);  // a file in a root
    return path.substr(0, sep);
}

std::string DirectoryOf(const std::string& path) {
    return DirectoryOf(path, kNativePathStyle);
}

std::string BaseNameOf(const std::string& path, PathStyle style) {
    const size_t prefix = PrefixLength(path, style);
    const size_t sep = LastSeparator(path, prefix, style);
    return path.substr(sep == std::string::npos ? prefix : sep + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name, PathStyle style) {
    if (folder.empty()) return name;
    if (IsSeparator(folder.back(), style)) return folder + name;
    if (style == PathStyle::kWindows && folder.size() == PrefixLength(folder, style) &&
        folder.back() == ':')
        return folder + name;  // "C:" + name: relative to the drive's current folder
    char sep = '/';
    if (style == PathStyle::kWindows &&
        !(folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos))
        sep = '\\';
    return folder + sep + name;
}

}  // namespace jet
