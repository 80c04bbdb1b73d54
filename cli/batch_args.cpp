// The batch form's command line, and the input lists read with --files-from.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>

#include "batch.h"
#include "commands.h"

namespace tolvane::cli {
namespace {

// More threads than this only add memory; the work is mostly disk.
constexpr unsigned long kMaxJobs = 1024;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

bool StartsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

bool ParseJobs(const char* text, unsigned& jobs) {
    const std::size_t digits = std::strspn(text, "0123456789");
    if (digits == 0 || digits > 4 || text[digits] != '\0') {
        return false;
    }
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (value < 1 || value > kMaxJobs) {
        return false;
    }
    jobs = static_cast<unsigned>(value);
    return true;
}

// One path a line; a line's CR (a list written on Windows) and empty lines
// are not part of any name.
void ReadList(std::istream& in, std::vector<std::string>& inputs) {
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            inputs.push_back(line);
        }
    }
}

int ReadFilesFrom(const std::string& list, std::vector<std::string>& inputs) {
    if (list == "-") {
        ReadList(std::cin, inputs);
        return std::cin.bad() ? UsageError("cannot read the input list from standard input") : 0;
    }
    // u8path: on Windows the list's name is opened by its wide spelling.
    std::ifstream in(std::filesystem::u8path(list), std::ios::binary);
    if (!in) {
        return UsageError("cannot read the input list " + list);
    }
    ReadList(in, inputs);
    return in.bad() ? UsageError("cannot read the input list " + list) : 0;
}

}  // namespace

bool IsBatchOption(const char* argument) {
    for (const char* name : {"-o", "--output-dir", "-j", "--jobs", "--files-from"}) {
        if (std::strcmp(argument, name) == 0) {
            return true;
        }
    }
    for (const char* prefix : {"--output-dir=", "--jobs=", "--files-from="}) {
        if (StartsWith(argument, prefix)) {
            return true;
        }
    }
    // -j4, as make and most parallel tools take it.
    return StartsWith(argument, "-j") && std::strspn(argument + 2, "0123456789") == std::strlen(argument + 2);
}

int ParseBatchArguments(int argc, char** argv, BatchRequest& request) {
    bool haveDir = false;
    std::vector<std::string> lists;
    bool optionsEnded = false;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
            request.inputs.push_back(arg);
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
            continue;
        }
        // The option's value: after '=' in the long form, else the next argument.
        const char* name = arg;
        std::string joined;
        const char* value = nullptr;
        if (const char* equals = StartsWith(arg, "--") ? std::strchr(arg, '=') : nullptr) {
            joined.assign(arg, equals);
            name = joined.c_str();
            value = equals + 1;
        } else if (StartsWith(arg, "-j") && arg[2] != '\0') {
            name = "-j";
            value = arg + 2;
        }
        const bool isDir = std::strcmp(name, "-o") == 0 || std::strcmp(name, "--output-dir") == 0;
        const bool isJobs = std::strcmp(name, "-j") == 0 || std::strcmp(name, "--jobs") == 0;
        const bool isList = std::strcmp(name, "--files-from") == 0;
        if (!isDir && !isJobs && !isList) {
            return UsageError(std::string("unknown option ") + arg);
        }
        if (value == nullptr) {
            if (i + 1 == argc) {
                const char* what = isDir ? " needs a directory" : isJobs ? " needs a number" : " needs a file";
                return UsageError(std::string(name) + what);
            }
            value = argv[++i];
        }
        if (isDir) {
            if (haveDir) {
                return UsageError("only one output directory can be given");
            }
            if (*value == '\0') {
                return UsageError(std::string(name) + " needs a directory");
            }
            request.outputDir = value;
            haveDir = true;
        } else if (isJobs) {
            if (!ParseJobs(value, request.jobs)) {
                return UsageError(std::string(name) + " takes a whole number of threads from 1 to " +
                                  std::to_string(kMaxJobs));
            }
        } else {
            lists.push_back(value);
        }
    }
    if (!haveDir) {
        return UsageError("expects an input and an output path, or inputs and -o DIR");
    }
    if (request.inputs.empty() && lists.empty()) {
        return UsageError("no input files");
    }
    for (const std::string& list : lists) {
        if (const int status = ReadFilesFrom(list, request.inputs)) {
            return status;
        }
    }
    return 0;
}

}  // namespace tolvane::cli
