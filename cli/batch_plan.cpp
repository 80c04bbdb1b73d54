// Naming each input's output and refusing, before any file is touched, what
// would overwrite an input or write one output twice.
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "batch.h"
#include "commands.h"
#include "file_facts.h"

namespace tolvane::cli {
namespace {

#if defined(_WIN32)
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
#else
bool IsSeparator(char c) { return c == '/'; }
#endif

// The last component of `path`; empty when it ends in a separator.
std::string FileNameOf(const std::string& path) {
    std::size_t start = path.size();
    while (start > 0 && !IsSeparator(path[start - 1])) {
        --start;
    }
#if defined(_WIN32)
    if (start == 0 && path.size() >= 2 && path[1] == ':') {
        start = 2;  // C:name
    }
#endif
    return path.substr(start);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
    const char last = dir.back();
#if defined(_WIN32)
    if (IsSeparator(last) || (dir.size() == 2 && last == ':')) {
        return dir + name;
    }
    // The separator the directory is already spelt with.
    const bool slashes = dir.find('/') != std::string::npos && dir.find('\\') == std::string::npos;
    return dir + (slashes ? '/' : '\\') + name;
#else
    return IsSeparator(last) ? dir + name : dir + '/' + name;
#endif
}

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tolvane stretch: %s\n", message.c_str());
    return kExitUsage;
}

bool ToUtf16(const std::string& path, Utf16Path& out) {
    if (Utf8ToUtf16(path.c_str(), out)) {
        return true;
    }
    std::fprintf(stderr, "tolvane stretch: path is not valid UTF-8: %s\n", path.c_str());
    return false;
}

using Identity = std::pair<std::uint64_t, std::uint64_t>;

// Runs fn(i) for every i below `count` on up to `threads` threads. Looking up
// thousands of files is thousands of system calls, which, left to one thread,
// would be a good part of a whole batch's time.
template <typename Fn>
void InParallel(std::size_t count, unsigned threads, const Fn& fn) {
    std::atomic<std::size_t> next{0};
    const auto run = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            fn(i);
        }
    };
    std::vector<std::thread> helpers;
    try {
        for (unsigned t = 1; t < threads && t < count; ++t) {
            helpers.emplace_back(run);
        }
    } catch (const std::system_error&) {
        // Fewer helpers, then; this thread does the rest.
    }
    run();
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

}  // namespace

int PlanBatch(const BatchRequest& request, unsigned threads, std::vector<BatchJob>& jobs) {
    jobs.clear();
    Utf16Path dir16;
    if (!ToUtf16(request.outputDir, dir16)) {
        return kExitUsage;
    }
    const FileFacts dir = FactsOf(request.outputDir, dir16);
    if (!dir.exists) {
        return Refuse("output directory " + request.outputDir + " does not exist");
    }
    if (!dir.directory) {
        return Refuse("output directory " + request.outputDir + " is not a directory");
    }

    // Every problem is named, not just the first, so that one run shows them all.
    int status = 0;
    std::map<Utf16Path, std::size_t> byName;  // output name -> the job writing it
    for (const std::string& input : request.inputs) {
        BatchJob job;
        job.input = input;
        const std::string name = FileNameOf(input);
        if (name.empty() || name == "." || name == "..") {
            status = Refuse("input " + input + " has no file name to give its output");
            continue;
        }
        job.output = JoinPath(request.outputDir, name);
        if (!ToUtf16(input, job.input16) || !ToUtf16(job.output, job.output16)) {
            status = kExitUsage;
            continue;
        }
        Utf16Path name16;
        Utf8ToUtf16(name.c_str(), name16);
        const auto [at, added] = byName.emplace(FileNameKey(name16), jobs.size());
        if (!added) {
            status = Refuse("inputs " + jobs[at->second].input + " and " + input + " would both write " +
                            jobs[at->second].output);
            continue;
        }
        jobs.push_back(std::move(job));
    }
    if (status != 0) {
        return status;
    }

    // By file identity, so that links and other spellings of one file are
    // seen through: no output may be an input, nor two outputs one file.
    std::vector<FileFacts> inputFacts(jobs.size());
    std::vector<FileFacts> outputFacts(jobs.size());
    InParallel(jobs.size(), threads, [&](std::size_t i) {
        inputFacts[i] = FactsOf(jobs[i].input, jobs[i].input16);
        outputFacts[i] = FactsOf(jobs[i].output, jobs[i].output16);
    });
    std::map<Identity, std::size_t> outputs;  // existing output -> its job
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const FileFacts& out = outputFacts[i];
        if (!out.exists) {
            continue;
        }
        const auto [at, added] = outputs.emplace(Identity{out.volume, out.index}, i);
        if (!added) {
            status = Refuse("outputs " + jobs[at->second].output + " and " + jobs[i].output + " are one file");
        }
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const FileFacts& in = inputFacts[i];
        jobs[i].bytes = in.size;
        if (!in.exists) {
            continue;  // fails on its own when its turn comes
        }
        const auto at = outputs.find(Identity{in.volume, in.index});
        if (at == outputs.end()) {
            continue;
        }
        const BatchJob& writer = jobs[at->second];
        if (at->second == i) {
            status = Refuse("input " + jobs[i].input + " is the output it would write");
        } else {
            status = Refuse("input " + jobs[i].input + " is " + writer.output + ", which " + writer.input +
                            " would write");
        }
    }
    return status;
}

}  // namespace tolvane::cli
