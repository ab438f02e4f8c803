#include "platform/program.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

void ProcessEnd::EndNow() {
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace platform
