// An Env that shows every operation that touches the file system (an open, a read, a write, a
// truncation, a sync of a file or a folder, a rename, a removal) to Before() ahead of passing
// it on. Before may count it, trace it, or throw an OsError to make it fail. Stat, sizes and
// locks pass unseen; SizeOf may change the size an open file reports.
//
// The fault sweeps, the run's recorders and the kill driver are all this with another Before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "jet/base/env.h"

namespace jet {

class ObservedEnv : public EnvWrapper {
  public:
    enum class Op { kOpen, kRead, kWrite, kTruncate, kSync, kRename, kRemove, kSyncDirectory };
    struct Operation {
        Op op;
        const std::string& path;     // a rename's source
        const std::string& to;       // a rename's destination; empty otherwise
        const void* data = nullptr;  // a write's bytes
        size_t size = 0;
    };
    // "open", "read", "write", "truncate", "sync" (also of a folder), "rename", "remove".
    static const char* Name(Op op) {
        static constexpr const char* kNames[] = {"open", "read",   "write",  "truncate",
                                                 "sync", "rename", "remove", "sync"};
        return kNames[static_cast<int>(op)];
    }

    explicit ObservedEnv(Env* target) : EnvWrapper(target) {}

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        See(Op::kOpen, path);
        return std::make_unique<ObservedFile>(this, EnvWrapper::Open(path, mode), path);
    }
    void Rename(const std::string& from, const std::string& to) override {
        Before({Op::kRename, from, to});
        EnvWrapper::Rename(from, to);
    }
    void Remove(const std::string& path) override {
        See(Op::kRemove, path);
        EnvWrapper::Remove(path);
    }
    void SyncDirectory(const std::string& path) override {
        See(Op::kSyncDirectory, path);
        EnvWrapper::SyncDirectory(path);
    }

  protected:
    virtual void Before(const Operation& operation) = 0;
    // The size an open file of `path` reports; `real` unless a derived Env says otherwise.
    virtual uint64_t SizeOf(const std::string& /*path*/, uint64_t real) { return real; }

  private:
    void See(Op op, const std::string& path, const void* data = nullptr, size_t size = 0) {
        static const std::string kNone;
        Before({op, path, kNone, data, size});
    }

    class ObservedFile final : public FileWrapper {
      public:
        ObservedFile(ObservedEnv* env, std::unique_ptr<File> target, std::string path)
            : FileWrapper(std::move(target)), env_(env), path_(std::move(path)) {}
        uint64_t Size() override { return env_->SizeOf(path_, FileWrapper::Size()); }
        size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
            env_->See(Op::kRead, path_);
            return FileWrapper::ReadAt(offset, buffer, n);
        }
        void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
            env_->See(Op::kWrite, path_, buffer, n);
            FileWrapper::WriteAt(offset, buffer, n);
        }
        void Truncate(uint64_t size) override {
            env_->See(Op::kTruncate, path_);
            FileWrapper::Truncate(size);
        }
        void Sync() override {
            env_->See(Op::kSync, path_);
            FileWrapper::Sync();
        }
        // A copy between two files of this Env: shown as the read and the write it stands for,
        // then made by the files beneath (within the kernel where they can).
        size_t CopyTo(File& to, uint64_t offset, size_t n) override {
            auto* observed = dynamic_cast<ObservedFile*>(&to);
            if (observed == nullptr || observed->env_ != env_) return File::CopyTo(to, offset, n);
            env_->See(Op::kRead, path_);
            env_->See(Op::kWrite, observed->path_);
            return target()->CopyTo(*observed->target(), offset, n);
        }

      private:
        ObservedEnv* env_;
        std::string path_;
    };
};

}  // namespace jet
