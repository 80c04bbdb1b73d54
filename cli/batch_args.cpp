// The batch form's command line, and the input lists read with --files-from.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "batch.h"
#include "commands.h"

namespace tolvane::cli {
namespace {

// More threads than this only add memory; the work is mostly disk.
constexpr unsigned kMaxJobs = 1024;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool AllDigits(const std::string& text, std::size_t from = 0) {
    return text.find_first_not_of("0123456789", from) == std::string::npos;
}

bool ParseJobs(const std::string& text, unsigned& jobs) {
    if (text.empty() || text.size() > 4 || !AllDigits(text)) {
        return false;
    }
    const unsigned long value = std::stoul(text);
    if (value < 1 || value > kMaxJobs) {
        return false;
    }
    jobs = static_cast<unsigned>(value);
    return true;
}

// One path a line; a line's CR (a list written on Windows) and empty lines
// are not part of any name.
int ReadFilesFrom(const std::string& list, std::vector<std::string>& inputs) {
    const std::string failed = "cannot read the input list " + (list == "-" ? "from standard input" : list);
    std::ifstream file;
    if (list != "-") {
        // u8path: on Windows the list's name is opened by its wide spelling.
        file.open(std::filesystem::u8path(list), std::ios::binary);
        if (!file) {
            return UsageError(failed);
        }
    }
    std::istream& in = list == "-" ? std::cin : file;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            inputs.push_back(line);
        }
    }
    return in.bad() ? UsageError(failed) : 0;
}

}  // namespace

bool IsBatchOption(const char* argument) {
    const std::string arg = argument;
    for (const char* name : {"-o", "--output-dir", "-j", "--jobs", "--files-from"}) {
        if (arg == name) {
            return true;
        }
    }
    for (const char* prefix : {"--output-dir=", "--jobs=", "--files-from="}) {
        if (StartsWith(arg, prefix)) {
            return true;
        }
    }
    // -j4, as make and most parallel tools take it.
    return StartsWith(arg, "-j") && AllDigits(arg, 2);
}

int ParseBatchArguments(int argc, char** argv, BatchRequest& request) {
    bool haveDir = false;
    bool optionsEnded = false;
    std::vector<std::string> lists;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            request.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // The option's value: after '=' in the long form, else the next argument.
        std::string name = arg;
        std::optional<std::string> value;
        if (const std::size_t equals = arg.find('='); StartsWith(arg, "--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (StartsWith(arg, "-j") && arg.size() > 2) {
            name = "-j";
            value = arg.substr(2);
        }
        const bool isDir = name == "-o" || name == "--output-dir";
        const bool isJobs = name == "-j" || name == "--jobs";
        if (!isDir && !isJobs && name != "--files-from") {
            return UsageError("unknown option " + arg);
        }
        if (!value) {
            if (i + 1 == argc) {
                return UsageError(name + (isDir ? " needs a directory" : isJobs ? " needs a number" : " needs a file"));
            }
            value = argv[++i];
        }
        if (isDir) {
            if (haveDir) {
                return UsageError("only one output directory can be given");
            }
            if (value->empty()) {
                return UsageError(name + " needs a directory");
            }
            request.outputDir = *value;
            haveDir = true;
        } else if (isJobs) {
            if (!ParseJobs(*value, request.jobs)) {
                return UsageError(name + " takes a whole number of threads from 1 to " + std::to_string(kMaxJobs));
            }
        } else {
            lists.push_back(*value);
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
