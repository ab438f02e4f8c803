#include "platform/clock.h"

#include <cstdio>
#include <ctime>

namespace platform {
namespace {

std::string Two(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value % 100);
    return buffer;
}

std::string Four(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d", value % 10000);
    return buffer;
}

}  // namespace

DateTime SystemClock::Now() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string FormatDdMmYyyy(const DateTime& t) {
    return Two(t.day) + kDateSeparator + Two(t.month) + kDateSeparator + Four(t.year);
}

std::string FormatHhMmSs(const DateTime& t) {
    return Two(t.hour) + kTimeSeparator + Two(t.minute) + kTimeSeparator + Two(t.second);
}

std::string FormatDdMmYy(const DateTime& t) {
    return Two(t.day) + Two(t.month) + Two(t.year);
}

std::string FormatHhMmSsCompact(const DateTime& t) {
    return Two(t.hour) + Two(t.minute) + Two(t.second);
}

}  // namespace platform
