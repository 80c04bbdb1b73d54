// The batch form of `tolvane stretch`: many inputs converted into one output
// directory by several worker threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "utf16_args.h"

namespace tolvane::cli {

// What the command line asks for.
struct BatchRequest {
    std::string outputDir;
    std::vector<std::string> inputs;  // UTF-8, in the order given
    unsigned jobs = 0;                // 0: one per online processor
};

// One conversion: the input and the output it writes, in both spellings.
struct BatchJob {
    std::string input;
    std::string output;
    Utf16Path input16;
    Utf16Path output16;
    std::uint64_t bytes = 0;  // the input's size when it was planned
};

// Whether `argument` is one of the batch form's options; the two-path form is
// used only when neither of its two arguments is.
bool IsBatchOption(const char* argument);

// These return 0, or print what is wrong and return the usage exit status.
int ParseBatchArguments(int argc, char** argv, BatchRequest& request);
// Names every output, and refuses before anything is written: a missing
// output directory, two inputs that would write one output, an input that
// one of the outputs would overwrite. The files are looked up on `threads`
// threads.
int PlanBatch(const BatchRequest& request, unsigned threads, std::vector<BatchJob>& jobs);

// Converts every job; returns the exit status (0, 1, or 130 when stopped).
int RunBatchJobs(const std::vector<BatchJob>& jobs, unsigned threads);

int RunBatch(int argc, char** argv);

}  // namespace tolvane::cli
