// Naming each input's output and refusing, before any file is touched, what
// would overwrite an input or write one output twice.
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

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

using Identity = std::pair<std::uint64_t, std::uint64_t>;

// Runs fn(i) for every i below `count` on up to `threads` threads.
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

// What the checks need to know of one input. For thousands of inputs that
// is thousands of system calls, a good part of a whole batch's time if left
// to one thread, so drafts are made on all of them.
struct Draft {
    BatchJob job;
    bool named = false;  // it has a file name to give its output
    bool utf8 = false;   // and its paths are valid UTF-8
    Utf16Path key;       // its output's name, compared as the file system does
    FileFacts in;
    FileFacts out;
};

Draft MakeDraft(const std::string& input, const std::string& dir) {
    Draft d;
    d.job.input = input;
    const std::string name = FileNameOf(input);
    d.named = !name.empty() && name != "." && name != "..";
    if (!d.named) {
        return d;
    }
    d.job.output = JoinPath(dir, name);
    Utf16Path name16;
    d.utf8 = Utf8ToUtf16(input.c_str(), d.job.input16) && Utf8ToUtf16(d.job.output.c_str(), d.job.output16) &&
             Utf8ToUtf16(name.c_str(), name16);
    if (!d.utf8) {
        return d;
    }
    d.key = FileNameKey(name16);
    d.in = FactsOf(d.job.input, d.job.input16);
    d.out = FactsOf(d.job.output, d.job.output16);
    d.job.bytes = d.in.size;
    return d;
}

}  // namespace

int PlanBatch(const BatchRequest& request, unsigned threads, std::vector<BatchJob>& jobs) {
    jobs.clear();
    Utf16Path dir16;
    if (!Utf8ToUtf16(request.outputDir.c_str(), dir16)) {
        return Refuse("path is not valid UTF-8: " + request.outputDir);
    }
    const FileFacts dir = FactsOf(request.outputDir, dir16);
    if (!dir.exists) {
        return Refuse("output directory " + request.outputDir + " does not exist");
    }
    if (!dir.directory) {
        return Refuse("output directory " + request.outputDir + " is not a directory");
    }

    const std::size_t count = request.inputs.size();
    std::vector<Draft> drafts(count);
    InParallel(count, threads, [&](std::size_t i) { drafts[i] = MakeDraft(request.inputs[i], request.outputDir); });

    // Every problem is named, not just the first, so that one run shows them
    // all. Files are compared by identity, so that links and other spellings
    // of one file are seen through: no output may be an input, nor two
    // outputs one file.
    int status = 0;
    std::unordered_map<Utf16Path, std::size_t> byName;  // output name -> the input writing it
    std::map<Identity, std::size_t> outputs;             // existing output -> the input writing it
    byName.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Draft& d = drafts[i];
        if (!d.named) {
            status = Refuse("input " + d.job.input + " has no file name to give its output");
            continue;
        }
        if (!d.utf8) {
            status = Refuse("path is not valid UTF-8: " + d.job.input);
            continue;
        }
        const auto [named, added] = byName.emplace(d.key, i);
        if (!added) {
            const BatchJob& first = drafts[named->second].job;
            status = Refuse("inputs " + first.input + " and " + d.job.input + " would both write " + first.output);
            continue;
        }
        if (d.out.exists) {
            const auto [existing, fresh] = outputs.emplace(Identity{d.out.volume, d.out.index}, i);
            if (!fresh) {
                status = Refuse("outputs " + drafts[existing->second].job.output + " and " + d.job.output +
                                " are one file");
            }
        }
    }
    if (status != 0) {
        return status;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Draft& d = drafts[i];
        const auto at = d.in.exists ? outputs.find(Identity{d.in.volume, d.in.index}) : outputs.end();
        if (at == outputs.end()) {
            continue;  // a missing input fails on its own when its turn comes
        }
        const BatchJob& writer = drafts[at->second].job;
        if (at->second == i) {
            status = Refuse("input " + d.job.input + " is the output it would write");
        } else {
            status = Refuse("input " + d.job.input + " is " + writer.output + ", which " + writer.input +
                            " would write");
        }
    }
    if (status != 0) {
        return status;
    }
    jobs.reserve(count);
    for (Draft& d : drafts) {
        jobs.push_back(std::move(d.job));
    }
    return 0;
}

}  // namespace tolvane::cli
