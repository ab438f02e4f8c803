// An Env that passes every operation through and remembers the first failure of the file
// system. Readers that turn every error they meet into a finding (the checker) or into damage
// to work around (the salvaging read of a repair) run over it, so that a read error is then
// reported as what it is, not taken for damage.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "jet/base/env.h"

namespace jet {

class WatchedEnv final : public Env {
  public:
    explicit WatchedEnv(Env* target) : target_(target) {}
    const std::optional<OsError>& failure() const { return failure_; }

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        return std::make_unique<WatchedFile>(this,
                                             Watch([&] { return target_->Open(path, mode); }));
    }
    FileStatus Stat(const std::string& path) override {
        return Watch([&] { return target_->Stat(path); });
    }
    void Rename(const std::string& from, const std::string& to) override {
        Watch([&] { target_->Rename(from, to); });
    }
    void Remove(const std::string& path) override {
        Watch([&] { target_->Remove(path); });
    }
    void SyncDirectory(const std::string& path) override {
        Watch([&] { target_->SyncDirectory(path); });
    }
    std::string HostName() override { return target_->HostName(); }

  private:
    class WatchedFile final : public File {
      public:
        WatchedFile(WatchedEnv* env, std::unique_ptr<File> file)
            : env_(env), file_(std::move(file)) {}
        uint64_t Size() override {
            return env_->Watch([&] { return file_->Size(); });
        }
        size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
            return env_->Watch([&] { return file_->ReadAt(offset, buffer, n); });
        }
        void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
            env_->Watch([&] { file_->WriteAt(offset, buffer, n); });
        }
        void Truncate(uint64_t size) override {
            env_->Watch([&] { file_->Truncate(size); });
        }
        void Sync() override {
            env_->Watch([&] { file_->Sync(); });
        }
        bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
            return env_->Watch([&] { return file_->TryLock(offset, length, exclusive); });
        }
        void Unlock(uint64_t offset, uint64_t length) override {
            env_->Watch([&] { file_->Unlock(offset, length); });
        }
        bool IsLockedByOther(uint64_t offset, uint64_t length) override {
            return env_->Watch([&] { return file_->IsLockedByOther(offset, length); });
        }
        Identity Id() override { return file_->Id(); }

      private:
        WatchedEnv* env_;
        std::unique_ptr<File> file_;
    };

    template <typename F>
    auto Watch(F&& f) -> decltype(f()) {
        try {
            return f();
        } catch (const OsError& e) {
            if (!failure_) failure_ = e;
            throw;
        }
    }

    Env* target_;
    std::optional<OsError> failure_;
};

}  // namespace jet
