// Naming each input's output and refusing, before any file is touched, what
// would overwrite an input or write one output twice.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "platform.h"

namespace tolvane::cli {
namespace {

using FileId = std::pair<std::uint64_t, std::uint64_t>;  // volume, index

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    return kExitUsage;
}

}  // namespace

int PlanBatch(const BatchRequest& request, std::vector<BatchJob>& jobs) {
    jobs.clear();
    const std::string& dir = request.outputDir;
    Utf16Path dir16;
    if (!Utf8ToUtf16(dir.c_str(), dir16)) {
        return Refuse("path is not valid UTF-8: " + dir);
    }
    const FileFacts dirFacts = FactsOf(dir, dir16);
    if (!dirFacts.exists) {
        return Refuse("output directory " + dir + " does not exist");
    }
    if (!dirFacts.directory) {
        return Refuse("output directory " + dir + " is not a directory");
    }

    // Each output is DIR/NAME; a directory that ends in a separator, or a bare
    // drive (C:), takes the name as it is.
    const std::string prefix = std::filesystem::u8path(dir).has_filename() ? dir + SeparatorFor(dir) : dir;

    // Every problem is named, not just the first, so that one run shows them
    // all. Files are compared by identity, so that links and other spellings
    // of one file are seen through: no output may be an input, nor two
    // outputs one file.
    int status = 0;
    std::unordered_map<Utf16Path, std::size_t> byName;  // output name -> the job writing it
    std::map<FileId, std::size_t> outputs;               // existing output -> the job writing it
    std::vector<FileFacts> inputs;                       // each job's input
    for (const std::string& input : request.inputs) {
        BatchJob job;
        job.input = input;
        Utf16Path name16;
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
        Utf8ToUtf16(name.c_str(), name16);
        const auto [named, added] = byName.emplace(FileNameKey(name16), jobs.size());
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
    if (status != 0) {
        jobs.clear();
        return status;
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
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
