// The runtime's file services, over jet::Env so that tests can inject a failure (disk full,
// permission denied, I/O error) into any file operation of a run. Each failure is raised as a
// VbError with the VB runtime's number for it (see error.h for the one errno mapping).
#pragma once

#include <string>

#include "jet/base/env.h"
#include "platform/path_style.h"

namespace platform {

class FileSystem {
  public:
    // REQUIRES: env outlives this object.
    FileSystem(jet::Env* env, PathStyle style) : env_(env), style_(style) {}

    // The existence test: a search for the exact path that finds plain files only. Folders
    // are not found, nor are hidden files (on POSIX, a name that starts with ".").
    bool Exists(const std::string& path);

    // Copies `from` to `to`, replacing `to`. The data goes to a hidden temporary name in the
    // destination's folder, is flushed, and only then renamed to `to`, so `to` never holds a
    // partial copy. On failure the temporary is removed and the error raised.
    void Copy(const std::string& from, const std::string& to);

    // Deletes one file. A lock file with live users is in use (70), as on Windows.
    void Delete(const std::string& path);

    // Renames or moves `from` to `to`, then syncs both folders. Fails with 58 when `to` exists
    // and with 74 when the two lie on different file systems.
    void Rename(const std::string& from, const std::string& to);

    // Appends `line` and CR LF to a text file, created when missing, in Windows-1252 with no
    // byte-order mark, and synced. The file is opened and closed within the call.
    void AppendLine(const std::string& path, const std::string& line);

    jet::Env* env() const { return env_; }
    const PathStyle& style() const { return style_; }

  private:
    // True when the folder part of `path` does not exist (76 rather than 53).
    bool FolderMissing(const std::string& path);
    [[noreturn]] void Fail(const jet::OsError& error, const std::string& path);

    jet::Env* env_;
    PathStyle style_;
};

// Stand-in for the scripting runtime's file-system object; the run uses one of its methods.
class FileSystemObject {
  public:
    explicit FileSystemObject(PathStyle style) : style_(style) {}

    // The folder part of `path`, without a trailing separator except for a root ("C:\" or
    // "/"); "" for a bare name.
    std::string GetParentFolderName(const std::string& path) const;

  private:
    PathStyle style_;
};

}  // namespace platform
