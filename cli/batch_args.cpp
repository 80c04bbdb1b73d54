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
constexpr unsigned long kMaxJobs = 1024;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    PrintUsage(stderr);
    return kExitUsage;
}

bool AllDigits(const std::string& text) { return text.find_first_not_of("0123456789") == std::string::npos; }

// An option's name, and its value when the same argument holds it: after '='
// in the long form, after -j in -jN (as make and most parallel tools take it).
std::optional<std::string> SplitOption(const std::string& arg, std::string& name) {
    name = arg;
    if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
        name = arg.substr(0, equals);
        return arg.substr(equals + 1);
    }
    if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
        name = "-j";
        return arg.substr(2);
    }
    return std::nullopt;
}

// What an option's value is: a directory, a number or a file; empty for no
// option of ours.
std::string ValueOf(const std::string& name) {
    if (name == "-o" || name == "--output-dir") {
        return "a directory";
    }
    if (name == "-j" || name == "--jobs") {
        return "a number";
    }
    return name == "--files-from" ? "a file" : "";
}

bool ParseJobs(const std::string& text, unsigned& jobs) {
    const unsigned long value = !text.empty() && text.size() <= 4 && AllDigits(text) ? std::stoul(text) : 0;
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
    std::string name;
    const std::optional<std::string> value = SplitOption(argument, name);
    return !ValueOf(name).empty() && !(name == "-j" && value && !AllDigits(*value));
}

int ParseBatchArguments(int argc, char** argv, BatchRequest& request) {
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
        std::string name;
        std::optional<std::string> value = SplitOption(arg, name);
        const std::string what = ValueOf(name);
        if (what.empty()) {
            return UsageError("unknown option " + arg);
        }
        if (!value && i + 1 == argc) {
            return UsageError(name + " needs " + what);
        }
        if (!value) {
            value = argv[++i];
        }
        if (what == "a number") {
            if (!ParseJobs(*value, request.jobs)) {
                return UsageError(name + " takes a whole number of threads from 1 to " + std::to_string(kMaxJobs));
            }
        } else if (what == "a file") {
            lists.push_back(*value);
        } else if (!request.outputDir.empty()) {
            return UsageError("only one output directory can be given");
        } else if (value->empty()) {
            return UsageError(name + " needs " + what);
        } else {
            request.outputDir = *value;
        }
    }
    if (request.outputDir.empty()) {
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
