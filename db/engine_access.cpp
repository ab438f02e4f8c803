#include "db/engine_access.h"

#include "platform/error.h"

dao::Database& Objeto(const std::shared_ptr<dao::Database>& variable) {
    if (!variable) throw platform::VbError(platform::kObjectNotSet);
    return *variable;
}
