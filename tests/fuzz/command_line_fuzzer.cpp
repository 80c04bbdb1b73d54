// Any argument vector, and any contents of a --files-from list, go to the
// batch form of `tolvane stretch`: refused with the usage status, or planned
// with every output directly inside the -o directory. Nothing is converted.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "fuzz_support.h"

using namespace tolvane::fuzz;

namespace {

// Whether `output` is an entry named directly in `dir`, as joining a file
// name to it gives.
bool DirectlyIn(const std::string& dir, const std::string& output) {
    if (dir.empty() || output.compare(0, dir.size(), dir) != 0) return false;
    std::string name = output.substr(dir.size());
    if (dir.back() != '/') {
        if (name.empty() || name[0] != '/') return false;
        name.erase(0, 1);
    }
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A list read from standard input ends at once.
    Check(std::freopen("/dev/null", "r", stdin) != nullptr, "cannot empty standard input");
    // Inputs and outputs to plan with: files, an output directory that holds
    // some of them, and links that make two names one file.
    const std::string& dir = ScratchDir();
    Check(::chdir(dir.c_str()) == 0, "cannot enter the scratch directory");
    ::mkdir("out", 0755);
    ::mkdir("out/sub", 0755);
    for (const char* file : {"a.wav", "b.wav", "out/a.wav", "out/sub/b.wav"}) WriteWhole(file, nullptr, 0);
    Check(::symlink("out", "same") == 0 && ::symlink("../b.wav", "out/c.wav") == 0, "cannot make the links");
    return 0;
}

// The bytes up to the first zero are the list "list"; each zero-ended piece
// after it is one argument.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t end = text.find('\0');
    WriteWhole("list", data, end == std::string::npos ? size : end);

    // Each argument in a heap block of exactly its size, as reading past one
    // is caught.
    std::vector<std::unique_ptr<char[]>> owned;
    std::vector<char*> argv;
    for (std::size_t start = end; start != std::string::npos && start < size; start = end) {
        end = text.find('\0', start + 1);
        const std::string arg = text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        owned.emplace_back(new char[arg.size() + 1]);
        std::copy(arg.c_str(), arg.c_str() + arg.size() + 1, owned.back().get());
        argv.push_back(owned.back().get());
    }
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    std::cin.clear();

    tolvane::cli::BatchRequest request;
    const int parsed = tolvane::cli::ParseBatchArguments(argc, argv.data(), request);
    Check(parsed == 0 || parsed == tolvane::cli::kExitUsage, "arguments: neither read nor refused");
    if (parsed != 0) return 0;
    Check(!request.outputDir.empty() && (request.jobs <= 1024), "arguments: a request out of bounds");

    std::vector<tolvane::cli::BatchJob> jobs;
    const int planned = tolvane::cli::PlanBatch(request, jobs);
    Check(planned == 0 || planned == tolvane::cli::kExitUsage, "plan: neither made nor refused");
    if (planned != 0) return 0;
    Check(jobs.size() == request.inputs.size(), "plan: not one job per input");
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        Check(jobs[i].input == request.inputs[i], "plan: jobs out of order");
        Check(DirectlyIn(request.outputDir, jobs[i].output), "plan: an output outside the -o directory");
    }
    return 0;
}
