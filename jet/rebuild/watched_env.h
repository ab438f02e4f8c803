// An Env that passes every operation through and remembers the first failure of the file
// system. Readers that turn every error they meet into a finding (the checker) or into damage
// to work around (the salvaging read of a repair) run over it, so that a read error is then
// reported as what it is, not taken for damage. It allows threads when the Env it wraps
// does: the failure is recorded under a lock, and read once the readers are done.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "jet/base/env.h"

namespace jet {

class WatchedEnv final : public EnvWrapper {
  public:
    explicit WatchedEnv(Env* target) : EnvWrapper(target) {}
    const std::optional<OsError>& failure() const { return failure_; }
    bool AllowsThreads() const override { return target()->AllowsThreads(); }

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        return std::make_unique<WatchedFile>(this,
                                             Watch([&] { return EnvWrapper::Open(path, mode); }));
    }
    FileStatus Stat(const std::string& path) override {
        return Watch([&] { return EnvWrapper::Stat(path); });
    }
    void Rename(const std::string& from, const std::string& to) override {
        Watch([&] { EnvWrapper::Rename(from, to); });
    }
    void Remove(const std::string& path) override {
        Watch([&] { EnvWrapper::Remove(path); });
    }
    void SyncDirectory(const std::string& path) override {
        Watch([&] { EnvWrapper::SyncDirectory(path); });
    }

  private:
    class WatchedFile final : public FileWrapper {
      public:
        WatchedFile(WatchedEnv* env, std::unique_ptr<File> file)
            : FileWrapper(std::move(file)), env_(env) {}
        uint64_t Size() override {
            return env_->Watch([&] { return FileWrapper::Size(); });
        }
        size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
            return env_->Watch([&] { return FileWrapper::ReadAt(offset, buffer, n); });
        }
        void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
            env_->Watch([&] { FileWrapper::WriteAt(offset, buffer, n); });
        }
        void Truncate(uint64_t size) override {
            env_->Watch([&] { FileWrapper::Truncate(size); });
        }
        void Sync() override {
            env_->Watch([&] { FileWrapper::Sync(); });
        }
        bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
            return env_->Watch([&] { return FileWrapper::TryLock(offset, length, exclusive); });
        }
        void Unlock(uint64_t offset, uint64_t length) override {
            env_->Watch([&] { FileWrapper::Unlock(offset, length); });
        }
        bool IsLockedByOther(uint64_t offset, uint64_t length) override {
            return env_->Watch([&] { return FileWrapper::IsLockedByOther(offset, length); });
        }

      private:
        WatchedEnv* env_;
    };

    template <typename F>
    auto Watch(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const OsError& e) {
            const std::lock_guard<std::mutex> hold(failure_lock_);
            if (!failure_) failure_ = e;
            throw;
        }
    }

    std::mutex failure_lock_;
    std::optional<OsError> failure_;
};

}  // namespace jet
