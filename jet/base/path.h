// Splitting and joining file paths, the one place that knows what separates a path's parts.
// POSIX paths use '/' alone. Windows paths use '\' or '/' and may begin with a drive ("C:",
// "C:\") or a share ("\\server\share\"); a temporary written beside "C:\dados\vendas.mdb" must
// land in "C:\dados", not in the current folder.
#pragma once

#include <string>

namespace jet {

enum class PathStyle { kPosix, kWindows };

#ifdef _WIN32
constexpr PathStyle kNativePathStyle = PathStyle::kWindows;
#else
constexpr PathStyle kNativePathStyle = PathStyle::kPosix;
#endif

// Whether a file that is open cannot be replaced by a rename: so on Windows (short of the
// POSIX semantics of recent NTFS, which MoveFileExW does not ask for), never on POSIX.
constexpr bool kOpenFilesBlockReplacement = kNativePathStyle == PathStyle::kWindows;

// Folder part of a path: "." for a bare name, the root itself for a file in a root ("/",
// "C:\", "\"), the drive alone for a drive-relative name ("C:x.mdb" gives "C:").
std::string DirectoryOf(const std::string& path, PathStyle style);
// The last part of a path: what follows its last separator (or its drive).
std::string BaseNameOf(const std::string& path, PathStyle style = kNativePathStyle);
// `name` inside `folder`, with one separator between them ('\' on Windows unless the folder
// uses '/' only). An empty folder gives `name`.
std::string JoinPath(const std::string& folder, const std::string& name,
                     PathStyle style = kNativePathStyle);

// The native style's DirectoryOf, as declared beside the Env.
std::string DirectoryOf(const std::string& path);

}  // namespace jet
