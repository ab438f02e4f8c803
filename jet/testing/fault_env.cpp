#include "jet/testing/fault_env.h"

namespace jet {
namespace {

class FaultInjectingFile final : public File {
public:
    FaultInjectingFile(FaultInjectingEnv* env, std::unique_ptr<File> target, std::string path)
        : env_(env), target_(std::move(target)), path_(std::move(path)) {}

    uint64_t Size() override { return target_->Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        env_->Tick("read", path_);
        return target_->ReadAt(offset, buffer, n);
    }
    void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
        env_->Tick("write", path_);
        target_->WriteAt(offset, buffer, n);
    }
    void Truncate(uint64_t size) override {
        env_->Tick("truncate", path_);
        target_->Truncate(size);
    }
    void Sync() override {
        env_->Tick("sync", path_);
        target_->Sync();
    }
    bool TryLock(uint64_t offset, uint64_t length, bool exclusive) override {
        return target_->TryLock(offset, length, exclusive);
    }
    void Unlock(uint64_t offset, uint64_t length) override { target_->Unlock(offset, length); }
    bool IsLockedByOther(uint64_t offset, uint64_t length) override {
        return target_->IsLockedByOther(offset, length);
    }
    Identity Id() override { return target_->Id(); }

private:
    FaultInjectingEnv* env_;
    std::unique_ptr<File> target_;
    std::string path_;
};

}  // namespace

void FaultInjectingEnv::Tick(const char* operation, const std::string& path) {
    ++operations_;
    bool hit = fail_at_ != 0 && (operations_ == fail_at_ || (sticky_ && operations_ > fail_at_));
    if (hit) {
        fired_ = true;
        throw OsError(error_code_, operation, path);
    }
}

std::unique_ptr<File> FaultInjectingEnv::Open(const std::string& path, OpenMode mode) {
    Tick("open", path);
    return std::make_unique<FaultInjectingFile>(this, target_->Open(path, mode), path);
}

FileStatus FaultInjectingEnv::Stat(const std::string& path) { return target_->Stat(path); }

void FaultInjectingEnv::Rename(const std::string& from, const std::string& to) {
    Tick("rename", from);
    target_->Rename(from, to);
}

void FaultInjectingEnv::Remove(const std::string& path) {
    Tick("remove", path);
    target_->Remove(path);
}

void FaultInjectingEnv::SyncDirectory(const std::string& path) {
    Tick("sync", path);
    target_->SyncDirectory(path);
}

}  // namespace jet
