#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "jet/database/lock_file.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr size_t kCopyChunk = size_t{4} << 20;
// The copy is sent to the disk behind it a part of this size at a time, so that the sync at
// its end waits for the last part only, not for the whole file once the copying is done.
constexpr uint64_t kWriteBackPart = 8u << 20;
constexpr int kTemporaryNameTries = 100;

}  // namespace

bool FileSystem::FolderMissing(const std::string& path) {
    std::string_view prefix = style_.FolderPrefixOf(path);
    if (prefix.empty()) return false;  // the current folder
    try {
        jet::FileStatus status = env_->Stat(std::string(prefix));
        return !status.exists || !status.is_directory;
    } catch (const jet::OsError&) {
        return false;
    }
}

void FileSystem::Fail(const jet::OsError& error, const std::string& path) {
    bool folder_missing = error.code() == ENOENT && FolderMissing(path);
    throw FromOsError(error, folder_missing);
}

bool FileSystem::Exists(const std::string& path) {
    std::string_view name = style_.NameOf(path);
    if (name.empty() || name.front() == '.') return false;  // no name, or a hidden one
    try {
        jet::FileStatus status = env_->Stat(path);
        return status.exists && status.is_regular;
    } catch (const jet::OsError& e) {
        Fail(e, path);
    }
}

void FileSystem::Copy(const std::string& from, const std::string& to) {
    std::unique_ptr<jet::File> source;
    try {
        source = env_->Open(from, jet::OpenMode::kRead);
    } catch (const jet::OsError& e) {
        Fail(e, from);
    }

    // A hidden name beside the destination: never mistaken for the copy by the existence
    // test, and renamed within one file system.
    std::string folder(style_.FolderPrefixOf(to));
    std::string base = folder + "." + std::string(style_.NameOf(to)) + ".copia";
    std::string temporary;
    std::unique_ptr<jet::File> target;
    for (int attempt = 0; !target; ++attempt) {
        temporary = base + std::to_string(attempt);
        try {
            target = env_->Open(temporary, jet::OpenMode::kCreateNew);
        } catch (const jet::OsError& e) {
            if (e.code() != EEXIST || attempt + 1 >= kTemporaryNameTries) Fail(e, to);
        }
    }

    try {
        // Chunk by chunk, within the kernel where the file system can (jet::File::CopyTo).
        uint64_t size = source->Size();
        uint64_t offset = 0, sent = 0;
        while (offset < size) {
            size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, size - offset));
            size_t got = source->CopyTo(*target, offset, want);
            if (got == 0) break;  // the source shrank while it was copied
            offset += got;
            if (offset - sent >= kWriteBackPart) {
                target->StartWriteBack(sent, offset - sent);
                sent = offset;
            }
        }
        target->Sync();
        target.reset();
        source.reset();
        env_->Rename(temporary, to);
    } catch (const jet::OsError& e) {
        target.reset();
        try {
            env_->Remove(temporary);
        } catch (const jet::OsError&) {
            // The first error is the one to report.
        }
        Fail(e, to);
    } catch (...) {
        target.reset();
        try {
            env_->Remove(temporary);
        } catch (const jet::OsError&) {
        }
        throw;
    }

    try {
        env_->SyncDirectory(folder.empty() ? std::string(".") : folder);
    } catch (const jet::OsError& e) {
        Fail(e, to);
    }
}

void FileSystem::Delete(const std::string& path) {
    // Windows refuses to delete a lock file that the engine holds open; POSIX does not, so
    // the live users' byte-range locks are asked first.
    if (jet::LockFileInUse(env_, path)) throw VbError(kPermissionDenied);
    try {
        env_->Remove(path);
    } catch (const jet::OsError& e) {
        Fail(e, path);
    }
}

void FileSystem::Rename(const std::string& from, const std::string& to) {
    try {
        if (!env_->Stat(from).exists) throw jet::OsError(ENOENT, "rename", from);
    } catch (const jet::OsError& e) {
        Fail(e, from);
    }
    try {
        if (env_->Stat(to).exists) throw VbError(kFileAlreadyExists);
        env_->Rename(from, to);
    } catch (const jet::OsError& e) {
        // The source is there, so a missing entry is the destination's folder.
        throw FromOsError(e, e.code() == ENOENT);
    }
    // The move lasts only once the folders' entries are on the disk: without it a power cut
    // after the run has reported success may leave the database's place empty.
    try {
        const std::string to_folder(style_.FolderPrefixOf(to));
        const std::string from_folder(style_.FolderPrefixOf(from));
        env_->SyncDirectory(to_folder.empty() ? std::string(".") : to_folder);
        if (from_folder != to_folder)
            env_->SyncDirectory(from_folder.empty() ? std::string(".") : from_folder);
    } catch (const jet::OsError& e) {
        Fail(e, to);
    }
}

void FileSystem::AppendLine(const std::string& path, const std::string& line) {
    std::string bytes = ToCp1252(line) + "\r\n";
    try {
        std::unique_ptr<jet::File> file = env_->Open(path, jet::OpenMode::kCreateOrOpen);
        file->WriteAt(file->Size(), bytes.data(), bytes.size());
        // The line is on the disk before the call returns: a run's log must name its backups
        // before the database leaves its place, whatever a power cut then keeps.
        file->Sync();
    } catch (const jet::OsError& e) {
        Fail(e, path);
    }
}

std::string FileSystemObject::GetParentFolderName(const std::string& path) const {
    auto root_length = [&](std::string_view s) -> size_t {
        if (style_.windows && s.size() >= 2 && s[1] == ':') {
            return s.size() >= 3 && style_.IsSeparator(s[2]) ? 3 : 2;
        }
        return !s.empty() && style_.IsSeparator(s[0]) ? 1 : 0;
    };
    std::string_view s = path;
    while (s.size() > root_length(s) && style_.IsSeparator(s.back())) s.remove_suffix(1);
    size_t slash = style_.LastSeparator(s);
    if (slash == std::string_view::npos || s.size() <= root_length(s)) return {};
    std::string_view parent = s.substr(0, slash + 1);
    while (parent.size() > root_length(parent) && style_.IsSeparator(parent.back())) {
        parent.remove_suffix(1);
    }
    return std::string(parent);
}

}  // namespace platform
