// What every Env's files share, whatever the platform.
#include "jet/base/env.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace jet {

OsError::OsError(int code, const std::string& operation, const std::string& path)
    : std::runtime_error(operation + " " + path + ": " + std::strerror(code)),
      code_(code),
      operation_(operation),
      path_(path) {}

size_t File::CopyTo(File& target, uint64_t offset, size_t n) {
    constexpr size_t kChunk = size_t{1} << 20;
    std::vector<char> buffer(std::min(n, kChunk));
    size_t done = 0;
    while (done < n) {
        const size_t got = ReadAt(offset + done, buffer.data(), std::min(n - done, kChunk));
        if (got == 0) break;
        target.WriteAt(offset + done, buffer.data(), got);
        done += got;
    }
    return done;
}

}  // namespace jet
