#include "jet/base/bytes.h"

#include "jet/base/error.h"

namespace jet {

void Corrupt(const std::string& detail) {
    throw JetError(kUnrecognizedFormat, "Unrecognized database format (damaged: " + detail + ").");
}

void OutOfBounds(const char* what) {
    Corrupt(std::string(what) + " out of bounds");
}

}  // namespace jet
