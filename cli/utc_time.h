// Wall-clock times in UTC, worked out from Unix time with calendar arithmetic
// of our own: the same on every system, with no time zone, no locale and
// no C runtime's gmtime (whose thread-safe spelling differs between them).
#pragma once

#include <cstdint>
#include <string>

namespace tolvane::cli {

struct UtcTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int dayOfYear = 1;  // 1..366
};

// Milliseconds since 1970-01-01T00:00:00Z, leap seconds not counted (as the
// system clock counts them).
UtcTime UtcFromUnixMs(std::int64_t unixMs);

// The system clock now, in those milliseconds.
std::int64_t UnixMsNow();

// ISO 8601 with milliseconds and Z: 2026-12-09T21:30:00.000Z.
std::string Iso8601(std::int64_t unixMs);

}  // namespace tolvane::cli
