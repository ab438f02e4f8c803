// How paths are spelled on the platform the program runs on. The system joins a folder and a
// name with the separator ("\" on Windows, "/" on POSIX); tests may run the Windows spelling
// on POSIX over an Env that maps such paths into a temporary folder.
#pragma once

#include <string>
#include <string_view>

namespace platform {

struct PathStyle {
    char separator = '/';  // put between a folder and a name
    bool windows = false;  // "\" and "/" both separate; "C:" starts a drive

    static PathStyle Posix() { return PathStyle{'/', false}; }
    static PathStyle Windows() { return PathStyle{'\\', true}; }
    static PathStyle Native() {
#ifdef _WIN32
        return Windows();
#else
        return Posix();
#endif
    }

    bool IsSeparator(char c) const {
        return c == '/' || (windows && c == '\\');
    }

    // Index of the last separator in `path`, or npos.
    size_t LastSeparator(std::string_view path) const {
        for (size_t i = path.size(); i-- > 0;) {
            if (IsSeparator(path[i])) return i;
        }
        return std::string_view::npos;
    }

    // The name after the last separator (the whole path when there is none).
    std::string_view NameOf(std::string_view path) const {
        size_t slash = LastSeparator(path);
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    }

    // The path up to and including its last separator ("" when there is none).
    std::string_view FolderPrefixOf(std::string_view path) const {
        size_t slash = LastSeparator(path);
        return slash == std::string_view::npos ? std::string_view{} : path.substr(0, slash + 1);
    }
};

}  // namespace platform
