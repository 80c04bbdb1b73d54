#include "utc_time.h"

#include <chrono>
#include <cstdio>

namespace tolvane::cli {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

// Floor division: times before 1970 round towards the past.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

bool IsLeap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

}  // namespace

UtcTime UtcFromUnixMs(std::int64_t unixMs) {
    const std::int64_t days = FloorDiv(unixMs, kMsPerDay);
    const std::int64_t msOfDay = unixMs - days * kMsPerDay;
    // Days to a civil date, counting in 400-year eras from 0000-03-01, so
    // that the leap day falls at the end of each counted year.
    const std::int64_t z = days + 719'468;
    const std::int64_t era = FloorDiv(z, 146'097);
    const std::int64_t dayOfEra = z - era * 146'097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfMarchYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfMarchYear + 2) / 153;
    UtcTime t;
    t.day = static_cast<int>(dayOfMarchYear - (153 * monthFromMarch + 2) / 5 + 1);
    t.month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    t.dayOfYear = kDaysBefore[t.month - 1] + t.day + (t.month > 2 && IsLeap(t.year) ? 1 : 0);
    t.hour = static_cast<int>(msOfDay / 3'600'000);
    t.minute = static_cast<int>(msOfDay / 60'000 % 60);
    t.second = static_cast<int>(msOfDay / 1000 % 60);
    t.millisecond = static_cast<int>(msOfDay % 1000);
    return t;
}

std::int64_t UnixMsNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Iso8601(std::int64_t unixMs) {
    const UtcTime t = UtcFromUnixMs(unixMs);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    return text;
}

}  // namespace tolvane::cli
