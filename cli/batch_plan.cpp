// The batch form's command line and the input lists read with --files-from;
// then each input's output named, refusing before any file is touched what
// would overwrite an input or write one output twice.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <unordered_map>
#include <utility>

#include "batch.h"
#include "commands.h"
#include "platform.h"

namespace tolvane::cli {
namespace {

using FileId = std::pair<std::uint64_t, std::uint64_t>;  // volume, index

// More threads than this only add memory; the work is mostly disk.
constexpr unsigned long kMaxJobs = 1024;

// Each option, and what its value is.
constexpr const char* kOptions[][2] = {{"-o", "a directory"}, {"--output-dir", "a directory"},
                                       {"-j", "a number"},    {"--jobs", "a number"},
                                       {"--files-from", "a file"}};

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    return kExitUsage;
}

int UsageError(const std::string& message) {
    Refuse(message);
    PrintUsage(stderr);
    return kExitUsage;
}

bool AllDigits(const std::string& text) { return text.find_first_not_of("0123456789") == std::string::npos; }

// An option's name, what its value is (empty for no option of ours), and its
// value when the same argument holds it: after '=' in the long form, after -j
// in -jN (as make and most parallel tools take it).
std::string SplitOption(const std::string& arg, std::string& name, std::optional<std::string>& value) {
    name = arg;
    if (const std::size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
    } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
        name = "-j";
        value = arg.substr(2);
    }
    for (const auto& [option, what] : kOptions) {
        if (name == option) {
            return what;
        }
    }
    return "";
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
    std::optional<std::string> value;
    return !SplitOption(argument, name, value).empty() && !(name == "-j" && value && !AllDigits(*value));
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
        std::optional<std::string> value;
        const std::string what = SplitOption(arg, name, value);
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
            const bool digits = !value->empty() && value->size() <= 4 && AllDigits(*value);
            const unsigned long jobs = digits ? std::stoul(*value) : 0;
            if (jobs < 1 || jobs > kMaxJobs) {
                return UsageError(name + " takes a whole number of threads from 1 to " + std::to_string(kMaxJobs));
            }
            request.jobs = static_cast<unsigned>(jobs);
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

int PlanBatch(const BatchRequest& request, std::vector<BatchJob>& jobs) {
    jobs.clear();
    const std::string& dir = request.outputDir;
    Utf16Path dir16;
    if (!Utf8ToUtf16(dir.c_str(), dir16)) {
        return Refuse("path is not valid UTF-8: " + dir);
    }
    const FileFacts dirFacts = FactsOf(dir, dir16);
    if (!dirFacts.directory) {
        return Refuse("output directory " + dir + (dirFacts.exists ? " is not a directory" : " does not exist"));
    }

    // Each output is DIR/NAME; a directory that ends in a separator, or a bare
    // drive (C:), takes the name as it is.
    const std::string prefix = std::filesystem::u8path(dir).has_filename() ? dir + SeparatorFor(dir) : dir;

    // Every problem is named, not just the first, so that one run shows them
    // all. Files are compared by identity, so that links and other spellings
    // of one file are seen through: no output may be an input, nor two
    // outputs one file.
    int status = 0;
    std::unordered_map<Utf16Path, std::size_t> byName;  // output path -> the job writing it
    std::map<FileId, std::size_t> outputs;               // existing output -> the job writing it
    std::vector<FileFacts> inputs;                       // each job's input
    for (const std::string& input : request.inputs) {
        BatchJob job;
        job.input = input;
        if (!Utf8ToUtf16(input.c_str(), job.input16)) {
            status = Refuse("path is not valid UTF-8: " + input);
            continue;
        }
        const std::string name = std::filesystem::u8path(input).filename().u8string();
        if (name.empty() || name == "." || name == "..") {
            status = Refuse("input " + input + " has no file name to give its output");
            continue;
        }
        job.output = prefix + name;
        Utf8ToUtf16(job.output.c_str(), job.output16);
        const auto [named, added] = byName.emplace(FileNameKey(job.output16), jobs.size());
        if (!added) {
            const BatchJob& first = jobs[named->second];
            status = Refuse("inputs " + first.input + " and " + input + " would both write " + first.output);
            continue;
        }
        const FileFacts out = FactsOf(job.output, job.output16);
        if (out.exists) {
            const auto [existing, fresh] = outputs.emplace(FileId{out.volume, out.index}, jobs.size());
            if (!fresh) {
                status = Refuse("outputs " + jobs[existing->second].output + " and " + job.output + " are one file");
            }
        }
        inputs.push_back(FactsOf(job.input, job.input16));
        job.bytes = inputs.back().size;
        jobs.push_back(std::move(job));
    }
    // Inputs are checked against the outputs only once every output is named.
    const bool named = status == 0;
    for (std::size_t i = 0; named && i < jobs.size(); ++i) {
        const FileFacts& in = inputs[i];
        const auto at = in.exists ? outputs.find(FileId{in.volume, in.index}) : outputs.end();
        if (at == outputs.end()) {
            continue;  // a missing input fails on its own when its turn comes
        }
        const BatchJob& writer = jobs[at->second];
        status = Refuse("input " + jobs[i].input + " is " +
                        (at->second == i ? "the output it would write"
                                         : writer.output + ", which " + writer.input + " would write"));
    }
    if (status != 0) {
        jobs.clear();
    }
    return status;
}

}  // namespace tolvane::cli
