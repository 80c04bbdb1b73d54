// A Windows host for the DLL, as an application would use it: loaded at run
// time with LoadLibraryW, each export found by name and by ordinal. Run under
// Wine by run_windows_tests.sh.
//
//   dll_host DLL WORKDIR exports
//   dll_host DLL WORKDIR convert NAME:RESULT...   (WORKDIR\cases\NAME.wav
//                                                  against NAME.ref.wav)
//   dll_host DLL WORKDIR faults
//   dll_host DLL WORKDIR recorder-slow-sync  (capture device plays a 16-bit
//                                         ramp in real time; one of the DLL's
//                                         FlushFileBuffers calls takes 3 s)
//   dll_host DLL WORKDIR recorder-none   (no capture device configured)
//   dll_host DLL WORKDIR recorder-ramp   (capture device plays a 16-bit ramp
//                                         in real time; one recording, then
//                                         one moved from file to file)
//   dll_host DLL WORKDIR cdecl           (the calling convention on 32-bit
//                                         x86, the results everywhere;
//                                         WORKDIR\cases as for convert)
//
// Prints "PASS: ..." or "FAIL: ..." per check; exits 1 if any
// check failed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The exports use the C calling convention, which 32-bit x86 hosts must
// state (elsewhere there is only one convention).
using StretchFn = std::int32_t(__cdecl*)(const wchar_t*, const wchar_t*);
using StartFn = std::int32_t(__cdecl*)(const wchar_t*);
using StopFn = std::int32_t(__cdecl*)();
using NextFileFn = std::int32_t(__cdecl*)(const wchar_t*, std::int32_t*);

constexpr std::int32_t kResultOk = 999;
constexpr std::int32_t kRecorderFileFailed = 4;  // the recording's file could not be created
constexpr std::int32_t kRecorderNotRecording = 5;

int failures = 0;

void Check(const char* what, bool ok, const std::string& detail = {}) {
    if (ok) {
        std::printf("PASS: %s\n", what);
    } else {
        std::printf("FAIL: %s%s%s%s\n", what, detail.empty() ? "" : " (", detail.c_str(), detail.empty() ? "" : ")");
        ++failures;
    }
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

template <typename Fn>
Fn As(FARPROC proc) {
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof proc);
    std::memcpy(&fn, &proc, sizeof fn);
    return fn;
}

bool ReadAll(const std::wstring& path, std::vector<unsigned char>& out) {
    out.clear();
    FILE* stream = _wfopen(path.c_str(), L"rb");
    if (stream == nullptr) {
        return false;
    }
    unsigned char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, stream)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    std::fclose(stream);
    return true;
}

bool WriteAll(const std::wstring& path, const std::vector<unsigned char>& content) {
    FILE* stream = _wfopen(path.c_str(), L"wb");
    if (stream == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(content.data(), 1, content.size(), stream) == content.size();
    return std::fclose(stream) == 0 && ok;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::uint32_t U32At(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) | (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

struct Library {
    HMODULE module = nullptr;
    StretchFn stretch = nullptr;
    StartFn start = nullptr;
    StopFn stop = nullptr;
    NextFileFn nextFile = nullptr;
    ~Library() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
};

bool Load(const std::wstring& dll, Library& library) {
    library.module = LoadLibraryW(dll.c_str());
    if (library.module == nullptr) {
        Check("LoadLibraryW", false, "error " + std::to_string(GetLastError()));
        return false;
    }
    library.stretch = As<StretchFn>(GetProcAddress(library.module, "WAVStrech"));
    library.start = As<StartFn>(GetProcAddress(library.module, "SoundRecorderStart"));
    library.stop = As<StopFn>(GetProcAddress(library.module, "SoundRecorderStop"));
    library.nextFile = As<NextFileFn>(GetProcAddress(library.module, "SoundRecorderNextFile"));
    return true;
}

// --- exports --------------------------------------------------------------

void TestExports(const std::wstring& dll, const std::wstring& work) {
    // Loading and unloading alone leaves nothing behind in the working
    // directory.
    const std::wstring empty = work + L"\\load-unload";
    CreateDirectoryW(empty.c_str(), nullptr);
    SetCurrentDirectoryW(empty.c_str());
    {
        Library library;
        if (!Load(dll, library)) {
            return;
        }
        struct Export {
            const char* name;
            WORD ordinal;
        };
        const Export exports[] = {
            {"WAVStrech", 1}, {"SoundRecorderStart", 2}, {"SoundRecorderStop", 3}, {"SoundRecorderNextFile", 4}};
        for (const Export& entry : exports) {
            const FARPROC byName = GetProcAddress(library.module, entry.name);
            const FARPROC byOrdinal = GetProcAddress(library.module, MAKEINTRESOURCEA(entry.ordinal));
            const std::string what = std::string("export ") + entry.name + " by name and by ordinal " +
                                     std::to_string(entry.ordinal) + " is one function";
            Check(what.c_str(), byName != nullptr && byName == byOrdinal);
        }
        Check("no export at ordinal 5", GetProcAddress(library.module, MAKEINTRESOURCEA(5)) == nullptr);
        Check("DllMain is not exported", GetProcAddress(library.module, "DllMain") == nullptr);
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((empty + L"\\*").c_str(), &found);
    bool nothingLeft = true;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            nothingLeft = nothingLeft && (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    Check("load and unload without a call leave no file behind", nothingLeft);
    SetCurrentDirectoryW(work.c_str());
}

// --- calling convention -----------------------------------------------------

#if defined(__i386__)
// CallAsCdecl(fn, count, args, &drift) calls fn(args[0], ..., args[count-1])
// exactly as a cdecl caller does: arguments pushed right to left, and removed
// again by the caller after the call. `drift` is how far the stack pointer
// then lies from where it was: 0 for a cdecl callee, 4 x count for one that
// removed its arguments itself (stdcall). A compiled caller would hide the
// difference by restoring the stack pointer from its frame pointer.
extern "C" std::int32_t __cdecl CallAsCdecl(FARPROC fn, std::int32_t count, const void* const* args,
                                            std::int32_t* drift) __asm__("tolvane_call_as_cdecl");
__asm__(
    ".text\n"
    "tolvane_call_as_cdecl:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  movl 12(%ebp), %ebx\n"        // count
    "  leal (,%ebx,4), %eax\n"       // 16-byte alignment at the call, as the
    "  movl %esp, %ecx\n"            // compiler keeps it
    "  subl %eax, %ecx\n"
    "  andl $-16, %ecx\n"
    "  addl %eax, %ecx\n"
    "  movl %ecx, %esp\n"
    "  movl %esp, %esi\n"            // the stack pointer before the arguments
    "  movl 16(%ebp), %edx\n"
    "  movl %ebx, %ecx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%edx,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  leal (%esp,%ebx,4), %esp\n"   // the caller's clean-up
    "  movl %esp, %ecx\n"
    "  subl %esi, %ecx\n"
    "  movl 20(%ebp), %edx\n"
    "  movl %ecx, (%edx)\n"
    "  leal -8(%ebp), %esp\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");
#else
// Elsewhere there is one convention: the same calls through the typed
// pointers, so that the cases' results are checked on every build.
std::int32_t CallAsCdecl(FARPROC fn, std::int32_t count, const void* const* args, std::int32_t* drift) {
    *drift = 0;
    const auto path = [&](int i) { return static_cast<const wchar_t*>(args[i]); };
    switch (count) {
        case 0:
            return As<StopFn>(fn)();
        case 1:
            return As<StartFn>(fn)(path(0));
        default:
            return As<StretchFn>(fn)(path(0), path(1));
    }
}
#endif

// Every export called many times as a cdecl caller calls it, each with the
// stack pointer checked on 32-bit x86: the arguments must arrive in order
// (the results and the converted bytes show it) and be left for the caller to
// remove.
void TestCdecl(const std::wstring& dll, const std::wstring& work) {
    Library library;
    if (!Load(dll, library) || library.stretch == nullptr || library.start == nullptr || library.stop == nullptr ||
        library.nextFile == nullptr) {
        Check("the exports resolve", false);
        return;
    }
    const FARPROC stretch = GetProcAddress(library.module, "WAVStrech");
    const FARPROC start = GetProcAddress(library.module, "SoundRecorderStart");
    const FARPROC stop = GetProcAddress(library.module, "SoundRecorderStop");
    const FARPROC nextFile = GetProcAddress(library.module, "SoundRecorderNextFile");
    const std::wstring input = work + L"\\cases\\block_4096.wav";
    const std::wstring output = work + L"\\cdecl.out.wav";
    const std::wstring missing = work + L"\\cdecl-missing.wav";
    const std::wstring uncreatable = work + L"\\no-such-folder\\cdecl.wav";
    std::vector<unsigned char> reference;
    ReadAll(work + L"\\cases\\block_4096.ref.wav", reference);
    std::int32_t finished = -1;

    struct Call {
        const char* what;
        FARPROC fn;
        std::vector<const void*> args;
        std::int32_t expected;
        int times;
    };
    const Call calls[] = {
        {"WAVStrech(input, output) converts", stretch, {input.c_str(), output.c_str()}, kResultOk, 50},
        {"WAVStrech(missing, output) fails", stretch, {missing.c_str(), output.c_str()}, 1, 2000},
        {"WAVStrech(null, null) fails", stretch, {nullptr, nullptr}, 1, 2000},
        {"SoundRecorderStart(uncreatable) fails", start, {uncreatable.c_str()}, kRecorderFileFailed, 2000},
        {"SoundRecorderStop() with nothing recording", stop, {}, 0, 2000},
        {"SoundRecorderNextFile(output, &seconds) with nothing recording", nextFile, {output.c_str(), &finished},
         kRecorderNotRecording, 2000},
    };
    for (const Call& call : calls) {
        int wrongResults = 0;
        int unbalanced = 0;
        std::int32_t lastResult = 0;
        std::int32_t lastDrift = 0;
        for (int i = 0; i < call.times; ++i) {
            std::int32_t drift = 0;
            lastResult = CallAsCdecl(call.fn, static_cast<std::int32_t>(call.args.size()), call.args.data(), &drift);
            wrongResults += lastResult != call.expected;
            unbalanced += drift != 0;
            lastDrift = drift != 0 ? drift : lastDrift;
        }
        const std::string what = std::string(call.what) + " as cdecl, " + std::to_string(call.times) +
                                 " times, the caller removing the arguments";
        Check(what.c_str(), wrongResults == 0 && unbalanced == 0,
              std::to_string(wrongResults) + " wrong results (last " + std::to_string(lastResult) + "), " +
                  std::to_string(unbalanced) + " calls moved the stack pointer (by " + std::to_string(lastDrift) +
                  ")");
    }
    Check("SoundRecorderNextFile stored its seconds where the second argument points", finished == 0);
    std::vector<unsigned char> got;
    Check("the output converted through those calls matches the Linux build",
          ReadAll(output, got) && !reference.empty() && got == reference);
}

// --- converter: outputs against the Linux build's -----------------------

void TestConvert(const std::wstring& dll, const std::wstring& work, int count, wchar_t** cases) {
    Library library;
    if (!Load(dll, library) || library.stretch == nullptr) {
        Check("WAVStrech resolves", false);
        return;
    }
    for (int i = 0; i < count; ++i) {
        const std::wstring caseArgument = cases[i];
        const std::size_t colon = caseArgument.find(L':');
        const std::wstring name = caseArgument.substr(0, colon);
        const std::int32_t expected = colon == std::wstring::npos ? kResultOk : std::stoi(caseArgument.substr(colon + 1));
        const std::wstring input = work + L"\\cases\\" + name + L".wav";
        const std::wstring reference = work + L"\\cases\\" + name + L".ref.wav";
        const std::wstring output = work + L"\\" + name + L".out.wav";
        DeleteFileW(output.c_str());
        const std::int32_t result = library.stretch(input.c_str(), output.c_str());
        std::vector<unsigned char> got;
        std::vector<unsigned char> want;
        const bool haveOutput = ReadAll(output, got);
        const bool haveReference = ReadAll(reference, want);
        const std::string what = "convert " + Narrow(name) + " matches the Linux build byte for byte";
        Check(what.c_str(), result == expected && haveOutput == haveReference && got == want,
              "result " + std::to_string(result) + ", " + std::to_string(got.size()) + " bytes against " +
                  std::to_string(want.size()));
    }
}

// --- converter: faults ----------------------------------------------------

void TestFaults(const std::wstring& dll, const std::wstring& work) {
    Library library;
    if (!Load(dll, library) || library.stretch == nullptr) {
        Check("WAVStrech resolves", false);
        return;
    }
    const auto stretch = library.stretch;
    const std::wstring cases = work + L"\\cases\\";
    const std::wstring dir = work + L"\\faults";
    CreateDirectoryW(dir.c_str(), nullptr);
    std::vector<unsigned char> original;
    ReadAll(cases + L"block_8192.wav", original);
    std::vector<unsigned char> reference;
    ReadAll(cases + L"block_8192.ref.wav", reference);
    std::vector<unsigned char> after;

    {
        // One file named twice, by the same name and by another spelling of
        // it: refused before anything is truncated.
        const std::wstring same = dir + L"\\same.wav";
        WriteAll(same, original);
        const std::int32_t twice = stretch(same.c_str(), same.c_str());
        const std::int32_t otherName = stretch(same.c_str(), (dir + L"\\sub\\..\\SAME.WAV").c_str());
        ReadAll(same, after);
        Check("same file as input and output is refused, input untouched",
              twice == 1 && otherName == 1 && after == original,
              std::to_string(twice) + " " + std::to_string(otherName));
    }
    {
        const std::wstring folder = dir + L"\\a-folder";
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring output = dir + L"\\from-folder.wav";
        Check("a directory as input fails and creates no output",
              stretch(folder.c_str(), output.c_str()) == 1 && !Exists(output));
        const std::wstring input = dir + L"\\into-folder.wav";
        WriteAll(input, original);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        Check("a directory as output fails and stays a directory",
              stretch(input.c_str(), folder.c_str()) == 1 && attributes != INVALID_FILE_ATTRIBUTES &&
                  (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    }
    {
        const std::wstring output = dir + L"\\from-missing.wav";
        Check("a missing input fails and creates no output",
              stretch((dir + L"\\missing.wav").c_str(), output.c_str()) == 1 && !Exists(output));
    }
    {
        const std::wstring input = dir + L"\\null-check.wav";
        WriteAll(input, original);
        const std::wstring output = dir + L"\\from-null.wav";
        Check("null paths fail", stretch(nullptr, output.c_str()) == 1 && !Exists(output) &&
                                     stretch(input.c_str(), nullptr) == 1 && stretch(nullptr, nullptr) == 1);
        Check("empty paths fail", stretch(L"", output.c_str()) == 1 && stretch(input.c_str(), L"") == 1 &&
                                      !Exists(output));
    }
    {
        // Windows would create a file whose name holds a lone surrogate; the
        // DLL refuses such names instead.
        const std::wstring input = dir + L"\\surrogate-source.wav";
        WriteAll(input, original);
        const std::wstring loneHigh = dir + L"\\lone\xD800x.wav";
        const std::wstring loneLow = dir + L"\\lone\xDC00.wav";
        const std::wstring highAtEnd = dir + L"\\lone\xD83C";
        const std::int32_t a = stretch(input.c_str(), loneHigh.c_str());
        const std::int32_t b = stretch(input.c_str(), loneLow.c_str());
        const std::int32_t c = stretch(input.c_str(), highAtEnd.c_str());
        const std::int32_t d = stretch(loneLow.c_str(), (dir + L"\\from-lone.wav").c_str());
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((dir + L"\\lone*").c_str(), &found);
        const bool created = search != INVALID_HANDLE_VALUE;
        if (created) {
            FindClose(search);
        }
        Check("unpaired surrogates in a path fail and create nothing",
              a == 1 && b == 1 && c == 1 && d == 1 && !created && !Exists(dir + L"\\from-lone.wav"));
    }
    {
        // Names outside the ANSI code page, a surrogate pair among them.
        const std::wstring input = dir + L"\\\u03b1\u03b2\u4e2d.wav";
        const std::wstring output = dir + L"\\\u03b1\u03b2\u4e2d-\U0001F3B5.wav";
        WriteAll(input, original);
        const std::int32_t result = stretch(input.c_str(), output.c_str());
        std::vector<unsigned char> got;
        Check("non-ANSI file names work", result == kResultOk && ReadAll(output, got) && got == reference);
    }
    {
        const std::wstring input = dir + L"\\long-source.wav";
        WriteAll(input, original);
        const std::wstring tooLong = dir + L"\\" + std::wstring(40000, L'a') + L".wav";
        Check("a path longer than the system allows fails",
              stretch(input.c_str(), tooLong.c_str()) == 1 && stretch(tooLong.c_str(), input.c_str()) == 1);
    }
    {
        // An output that cannot be created: the input must have been closed
        // again, or Windows would refuse to delete it.
        const std::wstring input = dir + L"\\released.wav";
        WriteAll(input, original);
        const std::int32_t result = stretch(input.c_str(), (dir + L"\\no-such-folder\\out.wav").c_str());
        Check("an uncreatable output fails and releases the input",
              result == 1 && DeleteFileW(input.c_str()) != 0);
    }
    {
        // An existing, longer output is cut to the new content.
        const std::wstring input = dir + L"\\short-source.wav";
        const std::wstring output = dir + L"\\long-existing.wav";
        WriteAll(input, original);
        WriteAll(output, std::vector<unsigned char>(200000, 0x5A));
        const std::int32_t result = stretch(input.c_str(), output.c_str());
        std::vector<unsigned char> got;
        Check("an existing longer output is truncated", result == kResultOk && ReadAll(output, got) && got == reference);
    }
    {
        // Both files are closed when the call returns: delete both.
        const std::wstring input = dir + L"\\closed-in.wav";
        const std::wstring output = dir + L"\\closed-out.wav";
        WriteAll(input, original);
        const std::int32_t result = stretch(input.c_str(), output.c_str());
        Check("both files are closed after success",
              result == kResultOk && DeleteFileW(input.c_str()) != 0 && DeleteFileW(output.c_str()) != 0);
    }
}

// --- recorder ---------------------------------------------------------------

bool LoadRecorder(const std::wstring& dll, Library& library, const char* what) {
    if (!Load(dll, library)) {
        return false;
    }
    if (library.start == nullptr || library.stop == nullptr || library.nextFile == nullptr) {
        Check(what, false, "the recorder's exports are missing");
        return false;
    }
    return true;
}

void TestRecorderWithoutDevice(const std::wstring& dll, const std::wstring& work) {
    const char* what = "without a capture device Start returns 1 and Stop 0, leaving an empty WAV";
    Library library;
    if (!LoadRecorder(dll, library, what)) {
        return;
    }
    const std::wstring path = work + L"\\recording-no-device.wav";
    DeleteFileW(path.c_str());
    const std::int32_t started = library.start(path.c_str());
    const std::int32_t seconds = library.stop();
    const std::wstring next = work + L"\\recording-no-device-next.wav";
    DeleteFileW(next.c_str());
    std::int32_t finished = -1;
    const std::int32_t moved = library.nextFile(next.c_str(), &finished);
    std::vector<unsigned char> file;
    const bool read = ReadAll(path, file);
    Check(what, started == 1 && seconds == 0 && read && file.size() == 44 && U32At(file, 40) == 0 &&
                    U32At(file, 4) == 36,
          "start " + std::to_string(started) + ", stop " + std::to_string(seconds) + ", " +
              std::to_string(file.size()) + " bytes");
    Check("without a recording NextFile returns 5 and creates nothing",
          moved == kRecorderNotRecording && finished == 0 && !Exists(next),
          "result " + std::to_string(moved) + ", seconds " + std::to_string(finished));
}

// Appends the samples of a finished recording at `path` to `samples` when it
// is an 8000 Hz WAV of exactly `seconds` whole seconds, as its header states.
bool AppendRecording(const std::wstring& path, std::int32_t seconds, std::vector<std::uint16_t>& samples) {
    std::vector<unsigned char> file;
    const std::size_t expectedSize = 44 + static_cast<std::size_t>(seconds > 0 ? seconds : 0) * 16000;
    if (!ReadAll(path, file) || file.size() != expectedSize || U32At(file, 40) != expectedSize - 44 ||
        U32At(file, 24) != 8000) {
        return false;
    }
    for (std::size_t at = 44; at + 1 < file.size(); at += 2) {
        samples.push_back(static_cast<std::uint16_t>(file[at] | (file[at + 1] << 8)));
    }
    return true;
}

// Each sample is the one before it plus one: no gap, no repeat.
bool Contiguous(const std::vector<std::uint16_t>& samples) {
    for (std::size_t i = 1; i < samples.size(); ++i) {
        if (samples[i] != static_cast<std::uint16_t>(samples[i - 1] + 1)) return false;
    }
    return true;
}

// Records for `milliseconds` and checks that the file holds whole seconds
// of one unbroken run of the ramp, at least `atLeast` of them. Returns the
// seconds that Stop reported.
std::int32_t CheckRampRecording(Library& library, const std::wstring& path, const char* what, DWORD milliseconds,
                                std::int32_t atLeast) {
    DeleteFileW(path.c_str());
    const std::int32_t started = library.start(path.c_str());
    Sleep(started == kResultOk ? milliseconds : 0);
    const std::int32_t seconds = library.stop();
    std::vector<std::uint16_t> samples;
    const bool whole = AppendRecording(path, seconds, samples);
    const bool contiguous = whole && Contiguous(samples);
    Check(what, started == kResultOk && seconds >= atLeast && contiguous,
          "start " + std::to_string(started) + ", stop " + std::to_string(seconds) + ", whole " +
              (whole ? "yes" : "no") + ", contiguous " + (contiguous ? "yes" : "no"));
    return seconds;
}

// One recording moved through three files with NextFile, once into a file
// that cannot be made and once into the file being recorded: each file holds
// what NextFile or Stop said, and joined they are one unbroken run of the
// source.
void CheckRampRotation(Library& library, const std::wstring& work) {
    const char* what = "a recording moved from file to file by NextFile is one contiguous run, split without a gap";
    std::vector<std::wstring> paths;
    for (const wchar_t* name : {L"\\rotation-0.wav", L"\\rotation-1.wav", L"\\rotation-2.wav"}) {
        paths.push_back(work + name);
        DeleteFileW(paths.back().c_str());
    }
    std::vector<std::int32_t> seconds(paths.size(), -1);
    std::int32_t moved[4] = {};
    std::int32_t failedSeconds = -1;
    const std::int32_t started = library.start(paths[0].c_str());
    Sleep(1700);
    moved[0] = library.nextFile(paths[1].c_str(), &seconds[0]);
    Sleep(1300);
    moved[1] = library.nextFile((work + L"\\no-such-folder\\rotation.wav").c_str(), &failedSeconds);
    moved[3] = library.nextFile(paths[1].c_str(), nullptr);
    Sleep(1300);
    moved[2] = library.nextFile(paths[2].c_str(), &seconds[1]);
    Sleep(1500);
    seconds[2] = library.stop();
    std::vector<std::uint16_t> samples;
    bool whole = true;
    for (std::size_t i = 0; i < paths.size(); ++i) whole = AppendRecording(paths[i], seconds[i], samples) && whole;
    const bool contiguous = whole && Contiguous(samples);
    Check(what,
          started == kResultOk && moved[0] == kResultOk && moved[2] == kResultOk && contiguous &&
              samples.size() >= 4 * 8000,
          "start " + std::to_string(started) + ", next " + std::to_string(moved[0]) + " " +
              std::to_string(moved[2]) + ", seconds " + std::to_string(seconds[0]) + " " +
              std::to_string(seconds[1]) + " " + std::to_string(seconds[2]) + ", whole " + (whole ? "yes" : "no") +
              ", contiguous " + (contiguous ? "yes" : "no"));
    Check("NextFile into a file that cannot be made returns 4 and the recording goes on in its file",
          moved[1] == kRecorderFileFailed && failedSeconds == 0 && seconds[1] >= 2,
          "result " + std::to_string(moved[1]) + ", seconds " + std::to_string(seconds[1]));
    Check("NextFile into the file being recorded returns 4 and leaves it whole", moved[3] == kRecorderFileFailed,
          "result " + std::to_string(moved[3]));
}

void TestRecorderRamp(const std::wstring& dll, const std::wstring& work) {
    const char* what = "a recording holds whole seconds of one contiguous run of the source";
    Library library;
    if (LoadRecorder(dll, library, what)) {
        CheckRampRecording(library, work + L"\\recording-ramp.wav", what, 3500, 2);
        CheckRampRotation(library, work);
    }
}

// Slow storage: the DLL's imported FlushFileBuffers is replaced, in its
// import table, by one that counts the calls and whose third (the sync of the
// recording's second second; Start's is the first) waits 3 s first.
using FlushFn = BOOL(WINAPI*)(HANDLE);
FlushFn realFlush = nullptr;
LONG flushes = 0;
constexpr LONG kSlowFlush = 3;

BOOL WINAPI SlowFlush(HANDLE file) {
    if (InterlockedIncrement(&flushes) == kSlowFlush) Sleep(3000);
    return realFlush(file);
}

bool HookFlush(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name != 0;
         ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), "KERNEL32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "FlushFileBuffers") != 0) continue;
            DWORD was = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &was)) return false;
            realFlush = reinterpret_cast<FlushFn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&SlowFlush);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, was, &was);
            return true;
        }
    }
    return false;
}

void TestRecorderSlowSync(const std::wstring& dll, const std::wstring& work) {
    const char* what = "a sync that takes 3 s loses no sound: the recording is one contiguous run";
    Library library;
    if (!LoadRecorder(dll, library, what)) {
        return;
    }
    if (!HookFlush(library.module)) {
        Check(what, false, "FlushFileBuffers is not in the DLL's import table");
        return;
    }
    // 6.5 s: the delayed sync lands in the first two seconds, so without
    // the recorder's queue at least 3 s would be missing.
    const std::int32_t seconds = CheckRampRecording(library, work + L"\\recording-slow-sync.wav", what, 6500, 5);
    Check("the slow sync happened", flushes >= kSlowFlush, std::to_string(flushes) + " flushes");
    // Storage is woken once a second, and once each by Start and Stop.
    Check("one FlushFileBuffers a second", flushes == seconds + 2,
          std::to_string(flushes) + " flushes for " + std::to_string(seconds) + " s");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fputs("usage: dll_host DLL WORKDIR exports|convert NAME:RESULT...|faults|recorder-none|recorder-ramp|cdecl\n",
                   stderr);
        return 2;
    }
    const std::wstring dll = argv[1];
    const std::wstring work = argv[2];
    const std::wstring mode = argv[3];
    if (mode == L"exports") {
        TestExports(dll, work);
    } else if (mode == L"convert") {
        TestConvert(dll, work, argc - 4, argv + 4);
    } else if (mode == L"faults") {
        TestFaults(dll, work);
    } else if (mode == L"recorder-slow-sync") {
        TestRecorderSlowSync(dll, work);
    } else if (mode == L"recorder-none") {
        TestRecorderWithoutDevice(dll, work);
    } else if (mode == L"recorder-ramp") {
        TestRecorderRamp(dll, work);
    } else if (mode == L"cdecl") {
        TestCdecl(dll, work);
    } else {
        std::fputs("dll_host: unknown mode\n", stderr);
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
