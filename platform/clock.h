// The clock and the date/time formats of the runtime. The system reads the date and the time
// as two separate readings (VB's Date and Time), so a clock is asked once for each.
#pragma once

#include <string>

namespace platform {

// A local date and time, to the second.
struct DateTime {
    int year = 2000;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual DateTime Now() = 0;
};

// The machine's local time.
class SystemClock final : public Clock {
  public:
    DateTime Now() override;
};

// The locale's separators. The platform offers no such setting that the program reads, so
// they are those of the locale the program's texts address (pt-BR): "/" and ":".
inline constexpr char kDateSeparator = '/';
inline constexpr char kTimeSeparator = ':';

std::string FormatDdMmYyyy(const DateTime& t);       // "dd/mm/yyyy"
std::string FormatHhMmSs(const DateTime& t);         // "hh:mm:ss", 24-hour clock
std::string FormatDdMmYy(const DateTime& t);         // "ddmmyy"
std::string FormatHhMmSsCompact(const DateTime& t);  // "hhmmss"

}  // namespace platform
