#include "jet/testing/fault_env.h"

namespace jet {
void FaultInjectingEnv::Tick(const char* operation, const std::string& path) {
    const std::lock_guard<std::mutex> hold(lock_);
    ++operations_;
    bool hit = fail_at_ != 0 && (operations_ == fail_at_ || (sticky_ && operations_ > fail_at_));
    if (hit) {
        fired_ = true;
        throw OsError(error_code_, operation, path);
    }
}

}  // namespace jet
