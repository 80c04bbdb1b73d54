#include "record_options.h"

#include <cctype>
#include <cstring>

namespace tolvane::cli {
namespace {

enum class Value { kSeconds, kDuration, kFile, kSize };

struct Option {
    const char* name;
    Value value;
};
constexpr Option kOptions[] = {{"--seconds", Value::kSeconds},
                               {"--split", Value::kDuration},
                               {"--log", Value::kFile},
                               {"--keep-free", Value::kSize}};

// A whole number with a unit after it, found in `units` (lower case, longest
// spellings first); false when the number or the unit is not valid.
struct Unit {
    const char* name;
    std::uint64_t factor;
};
template <std::size_t N>
bool ParseWithUnit(const std::string& text, const Unit (&units)[N], std::uint64_t& value) {
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
    if (digits == 0 || digits > 15) return false;  // far past any use
    std::string unit = text.substr(digits);
    for (char& c : unit) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const Unit& u : units) {
        if (unit == u.name) {
            // 15 digits fit in 64 bits, but not always once multiplied
            // by the unit: a value that wraps would be taken as a small one.
            const std::uint64_t number = std::stoull(text.substr(0, digits));
            if (number > UINT64_MAX / u.factor) return false;
            value = number * u.factor;
            return value >= 1;
        }
    }
    return false;
}

}  // namespace

bool ParseDuration(const std::string& text, std::uint64_t& seconds) {
    static constexpr Unit kUnits[] = {{"", 1}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
    return ParseWithUnit(text, kUnits, seconds);
}

bool ParseSize(const std::string& text, std::uint64_t& bytes) {
    static constexpr Unit kUnits[] = {{"", 1},           {"b", 1},           {"k", 1ull << 10}, {"kb", 1ull << 10},
                                      {"kib", 1ull << 10}, {"m", 1ull << 20}, {"mb", 1ull << 20}, {"mib", 1ull << 20},
                                      {"g", 1ull << 30}, {"gb", 1ull << 30}, {"gib", 1ull << 30}, {"t", 1ull << 40},
                                      {"tb", 1ull << 40}, {"tib", 1ull << 40}};
    return ParseWithUnit(text, kUnits, bytes);
}

bool ParseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& problem) {
    bool havePattern = false;
    for (int i = 0; i < argc; ++i) {
        const Option* option = nullptr;
        for (const Option& o : kOptions) {
            if (std::strcmp(argv[i], o.name) == 0) option = &o;
        }
        if (option == nullptr) {
            if (havePattern) {
                problem = "expects one output path";
                return false;
            }
            options.pattern = argv[i];
            havePattern = true;
            continue;
        }
        const std::string value = i + 1 < argc ? argv[++i] : "";
        std::uint64_t number = 0;
        switch (option->value) {
            case Value::kSeconds:
                if (!ParseDuration(value, number) || value.find_first_not_of("0123456789") != std::string::npos ||
                    number > INT32_MAX) {
                    problem = "--seconds takes a whole number of seconds, 1 or more";
                    return false;
                }
                options.seconds = static_cast<std::uint32_t>(number);
                break;
            case Value::kDuration:
                if (!ParseDuration(value, number) || number > kLongestFileSeconds) {
                    problem = "--split takes a duration from 1 s to 134200 s: seconds, or with s, m, h or d "
                              "(900, 15m, 1h)";
                    return false;
                }
                options.splitSeconds = static_cast<std::uint32_t>(number);
                break;
            case Value::kFile:
                if (value.empty()) {
                    problem = "--log takes a file";
                    return false;
                }
                options.logPath = value;
                break;
            case Value::kSize:
                if (!ParseSize(value, number)) {
                    problem = "--keep-free takes a size in bytes, or with K, M, G or T (500M, 2G)";
                    return false;
                }
                options.keepFreeBytes = number;
                break;
        }
    }
    if (!havePattern) {
        problem = "expects an output path";
        return false;
    }
    return true;
}

}  // namespace tolvane::cli
