// A file system in memory, for the fuzz targets and tests: files under one folder, every write
// noted (file, offset, length), byte-range locks granted to any asker. Fast and repeatable.
// Read-only, it refuses every change with EROFS, as a read-only mount does.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"

namespace jet {

using Blob = std::vector<uint8_t>;

class MemoryEnv final : public Env {
  public:
    static inline const std::string kFolder = "/fuzz";

    struct Write {
        std::string path;
        uint64_t offset;
        size_t length;
    };
    std::map<std::string, std::shared_ptr<Blob>> files;
    std::vector<Write> writes;
    bool read_only = false;

    void Put(const std::string& path, const uint8_t* data, size_t size) {
        files[path] = std::make_shared<Blob>(data, data + size);
    }

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        auto it = files.find(path);
        if (read_only && mode != OpenMode::kRead) throw OsError(EROFS, "open", path);
        switch (mode) {
            case OpenMode::kRead:
            case OpenMode::kReadWrite:
                if (it == files.end()) throw OsError(ENOENT, "open", path);
                break;
            case OpenMode::kCreateNew:
                if (it != files.end()) throw OsError(EEXIST, "open", path);
                it = files.emplace(path, std::make_shared<Blob>()).first;
                break;
            case OpenMode::kCreateOrOpen:
            case OpenMode::kCreateOrOpenUndeletable:
                if (it == files.end()) it = files.emplace(path, std::make_shared<Blob>()).first;
                break;
            case OpenMode::kCreateTruncate:
                if (it == files.end()) it = files.emplace(path, std::make_shared<Blob>()).first;
                it->second->clear();
                break;
        }
        return std::make_unique<MemoryFile>(this, path, it->second);
    }
    FileStatus Stat(const std::string& path) override {
        FileStatus s;
        if (path == kFolder || path == kFolder + "/") {
            s.exists = s.is_directory = true;
            return s;
        }
        auto it = files.find(path);
        if (it == files.end()) return s;
        s.exists = s.is_regular = true;
        s.size = it->second->size();
        return s;
    }
    void Rename(const std::string& from, const std::string& to) override {
        if (read_only) throw OsError(EROFS, "rename", from);
        auto it = files.find(from);
        if (it == files.end()) throw OsError(ENOENT, "rename", from);
        auto data = it->second;
        files.erase(it);
        files[to] = std::move(data);
    }
    void Remove(const std::string& path) override {
        if (read_only) throw OsError(EROFS, "remove", path);
        if (files.erase(path) == 0) throw OsError(ENOENT, "remove", path);
    }
    void SyncDirectory(const std::string&) override {}
    std::string HostName() override { return "fuzz"; }

  private:
    class MemoryFile final : public File {
      public:
        MemoryFile(MemoryEnv* env, std::string path, std::shared_ptr<Blob> data)
            : env_(env), path_(std::move(path)), data_(std::move(data)) {}
        uint64_t Size() override { return data_->size(); }
        size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
            if (offset >= data_->size()) return 0;
            const size_t got = static_cast<size_t>(std::min<uint64_t>(n, data_->size() - offset));
            std::memcpy(buffer, data_->data() + offset, got);
            return got;
        }
        void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
            if (env_->read_only) throw OsError(EROFS, "write", path_);
            if (offset + n > (uint64_t{1} << 28)) throw OsError(EFBIG, "write", path_);
            if (data_->size() < offset + n) data_->resize(static_cast<size_t>(offset + n));
            std::memcpy(data_->data() + offset, buffer, n);
            env_->writes.push_back({path_, offset, n});
        }
        void Truncate(uint64_t size) override {
            if (env_->read_only) throw OsError(EROFS, "truncate", path_);
            if (size > (uint64_t{1} << 28)) throw OsError(EFBIG, "truncate", path_);
            data_->resize(static_cast<size_t>(size));
        }
        void Sync() override {}
        bool TryLock(uint64_t, uint64_t, bool) override { return true; }
        void Unlock(uint64_t, uint64_t) override {}
        bool IsLockedByOther(uint64_t, uint64_t) override { return false; }

      private:
        MemoryEnv* env_;
        std::string path_;
        std::shared_ptr<Blob> data_;
    };
};

}  // namespace jet
