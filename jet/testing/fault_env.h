// An Env that passes everything to another Env, counts every operation that touches the file
// system, and can make the Nth of them fail with a chosen errno (ENOSPC, EACCES, EIO...).
// Used by fault sweeps: run once to count, then fail operation 1, 2, ... in turn.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "jet/testing/observed_env.h"

namespace jet {

class FaultInjectingEnv final : public ObservedEnv {
  public:
    explicit FaultInjectingEnv(Env* target) : ObservedEnv(target) {}

    // Fail the operation whose 1-based sequence number is `nth` with `error_code`; 0 disarms.
    void FailAt(uint64_t nth, int error_code) {
        fail_at_ = nth;
        error_code_ = error_code;
    }
    // Fail every operation from `nth` on (a disk that stays full, a device that went away).
    void FailFrom(uint64_t nth, int error_code) {
        FailAt(nth, error_code);
        sticky_ = true;
    }
    // Lets a compaction or a repair work on two threads through this Env, as they do on a real
    // file system; which operation is the Nth is then up to the threads' timing.
    void AllowThreads() { threads_ = true; }
    bool AllowsThreads() const override { return threads_ && target()->AllowsThreads(); }
    uint64_t operations() const { return operations_; }
    bool fired() const { return fired_; }
    void Reset() {
        operations_ = 0;
        fail_at_ = 0;
        fired_ = false;
        sticky_ = false;
    }

    // Counts one operation and throws when it is the one chosen to fail.
    void Tick(const char* operation, const std::string& path);

  protected:
    void Before(const Operation& operation) override { Tick(Name(operation.op), operation.path); }

  private:
    std::mutex lock_;
    bool threads_ = false;
    uint64_t operations_ = 0;
    uint64_t fail_at_ = 0;
    int error_code_ = 0;
    bool fired_ = false;
    bool sticky_ = false;
};

}  // namespace jet
