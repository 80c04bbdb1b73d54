/* A Windows host for the DLL on targets with no C or C++ runtime to link
 * (ARM64 and ARMv7 Windows built with Debian's clang): plain C over KERNEL32
 * alone, with an entry point of its own. It loads the DLL at run time with
 * LoadLibraryW, as an application would, and runs the cases of dll_host.cpp
 * that tell whether a DLL built for a new machine works: its exports, its
 * conversions against the Linux build, the faults where paths and files are
 * handled, and a recording. run_windows_tests.sh runs it under Wine.
 *
 *   arm_dll_host DLL WORKDIR exports
 *   arm_dll_host DLL WORKDIR convert NAME:RESULT...  (WORKDIR\cases\NAME.wav
 *                                                     against NAME.ref.wav)
 *   arm_dll_host DLL WORKDIR faults
 *   arm_dll_host DLL WORKDIR recorder-none   (no capture device configured)
 *   arm_dll_host DLL WORKDIR recorder-ramp   (capture device plays a 16-bit
 *                                             ramp in real time)
 *
 * Prints "PASS: ..." or "FAIL: ..." per check; exits 1 if any check failed. */
#include <windows.h>

typedef int(__cdecl* StretchFn)(const wchar_t*, const wchar_t*);
typedef int(__cdecl* StartFn)(const wchar_t*);
typedef int(__cdecl* StopFn)(void);
typedef int(__cdecl* NextFileFn)(const wchar_t*, int*);

enum { kResultOk = 999, kMaxArgs = 64, kPathChars = 1024 };

static int failures;
static HANDLE output;

static void Print(const char* text) {
    DWORD length = 0;
    DWORD written = 0;
    while (text[length] != 0) ++length;
    WriteFile(output, text, length, &written, NULL);
}

/* 32 bits, which every number printed here fits: ARMv7 has no 64-bit
 * division, and a division by 10 of a wider value would call a runtime
 * helper (__rt_udiv64) that nothing here provides. */
static void PrintNumber(long value) {
    char digits[16];
    int at = (int)sizeof digits - 1;
    unsigned long magnitude = value < 0 ? 0ul - (unsigned long)value : (unsigned long)value;
    digits[at] = 0;
    do {
        digits[--at] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--at] = '-';
    Print(digits + at);
}

/* Narrows a wide name for the report; anything outside ASCII shows as '?'. */
static void PrintWide(const wchar_t* text) {
    char narrow[2] = {0, 0};
    for (; *text != 0; ++text) {
        narrow[0] = *text < 0x80 ? (char)*text : '?';
        Print(narrow);
    }
}

/* One line, "PASS: what" or "FAIL: what"; returns ok. */
static int Check(const char* what, int ok) {
    Print(ok ? "PASS: " : "FAIL: ");
    Print(what);
    Print("\n");
    failures += !ok;
    return ok;
}

/* --- text ------------------------------------------------------------------ */

static size_t WideLength(const wchar_t* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

/* Append(out, tail): tail added to out, cut to a buffer of kPathChars. */
static wchar_t* Append(wchar_t* out, const wchar_t* tail) {
    size_t at = WideLength(out);
    for (; *tail != 0 && at + 1 < kPathChars; ++tail) out[at++] = *tail;
    out[at] = 0;
    return out;
}

/* Path(out, a, b, c): out = a + b + c, each may be NULL. */
static wchar_t* Path(wchar_t* out, const wchar_t* a, const wchar_t* b, const wchar_t* c) {
    const wchar_t* parts[3] = {a, b, c};
    out[0] = 0;
    for (int i = 0; i < 3; ++i) {
        if (parts[i] != NULL) Append(out, parts[i]);
    }
    return out;
}

/* The command line split as the system's own rules do for names without
 * backslashes before quotes: blanks separate, quotes group. */
static int SplitCommandLine(wchar_t* line, wchar_t** argv) {
    int argc = 0;
    while (*line != 0 && argc < kMaxArgs) {
        while (*line == L' ' || *line == L'\t') ++line;
        if (*line == 0) break;
        argv[argc++] = line;
        wchar_t* to = line;
        int quoted = 0;
        for (; *line != 0 && (quoted || (*line != L' ' && *line != L'\t')); ++line) {
            if (*line == L'"') {
                quoted = !quoted;
            } else {
                *to++ = *line;
            }
        }
        if (*line != 0) ++line;
        *to = 0;
    }
    return argc;
}

/* --- files ----------------------------------------------------------------- */

typedef struct {
    unsigned char* bytes;
    DWORD size;
} Content;

static void Release(Content* content) {
    if (content->bytes != NULL) HeapFree(GetProcessHeap(), 0, content->bytes);
    content->bytes = NULL;
    content->size = 0;
}

/* Reads a whole file (up to 64 MiB); 0 if it cannot be opened. A file that
 * is there but cannot be read whole fails the run, so that two such files
 * never compare as two missing ones. */
static int ReadAll(const wchar_t* path, Content* content) {
    Release(content);
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER size;
    int ok = GetFileSizeEx(file, &size) && size.QuadPart <= (64 << 20);
    if (ok) {
        content->size = (DWORD)size.QuadPart;
        content->bytes = HeapAlloc(GetProcessHeap(), 0, content->size + 1);
        DWORD got = 0;
        ok = content->bytes != NULL && ReadFile(file, content->bytes, content->size, &got, NULL) &&
             got == content->size;
    }
    CloseHandle(file);
    if (!ok) {
        Release(content);
        Print("FAIL: a file could not be read whole: ");
        PrintWide(path);
        Print("\n");
        ++failures;
    }
    return ok;
}

static int WriteAll(const wchar_t* path, const Content* content) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD written = 0;
    int ok = WriteFile(file, content->bytes, content->size, &written, NULL) && written == content->size;
    return CloseHandle(file) && ok;
}

static int Same(const Content* a, const Content* b) {
    if (a->size != b->size) return 0;
    for (DWORD i = 0; i < a->size; ++i) {
        if (a->bytes[i] != b->bytes[i]) return 0;
    }
    return 1;
}

static int Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

static DWORD U32At(const Content* content, DWORD offset) {
    const unsigned char* p = content->bytes + offset;
    return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

/* --- the library -------------------------------------------------------------- */

typedef struct {
    HMODULE module;
    StretchFn stretch;
    StartFn start;
    StopFn stop;
    NextFileFn nextFile;
} Library;

static int Load(const wchar_t* dll, Library* library) {
    library->module = LoadLibraryW(dll);
    if (library->module == NULL) {
        Print("FAIL: LoadLibraryW (error ");
        PrintNumber((long)GetLastError());
        Print(")\n");
        ++failures;
        return 0;
    }
    /* FARPROC to the exports' types: one code pointer to another. */
    library->stretch = (StretchFn)(void (*)(void))GetProcAddress(library->module, "WAVStrech");
    library->start = (StartFn)(void (*)(void))GetProcAddress(library->module, "SoundRecorderStart");
    library->stop = (StopFn)(void (*)(void))GetProcAddress(library->module, "SoundRecorderStop");
    library->nextFile = (NextFileFn)(void (*)(void))GetProcAddress(library->module, "SoundRecorderNextFile");
    if (library->stretch == NULL || library->start == NULL || library->stop == NULL || library->nextFile == NULL) {
        Check("the four exports resolve by name", 0);
        FreeLibrary(library->module);
        return 0;
    }
    return 1;
}

/* --- the modes ------------------------------------------------------------- */

static void TestExports(const wchar_t* dll) {
    static const char* const names[] = {"WAVStrech", "SoundRecorderStart", "SoundRecorderStop",
                                        "SoundRecorderNextFile"};
    static const char* const checks[] = {
        "export WAVStrech by name and by ordinal 1 is one function",
        "export SoundRecorderStart by name and by ordinal 2 is one function",
        "export SoundRecorderStop by name and by ordinal 3 is one function",
        "export SoundRecorderNextFile by name and by ordinal 4 is one function",
    };
    Library library;
    if (!Load(dll, &library)) return;
    for (int i = 0; i < 4; ++i) {
        FARPROC byName = GetProcAddress(library.module, names[i]);
        FARPROC byOrdinal = GetProcAddress(library.module, MAKEINTRESOURCEA(i + 1));
        Check(checks[i], byName != NULL && byName == byOrdinal);
    }
    Check("no export at ordinal 5", GetProcAddress(library.module, MAKEINTRESOURCEA(5)) == NULL);
    Check("DllMain is not exported", GetProcAddress(library.module, "DllMain") == NULL);
    Check("the DLL unloads", FreeLibrary(library.module) != 0);
}

static void TestConvert(const wchar_t* dll, const wchar_t* work, int count, wchar_t** cases) {
    static wchar_t name[kPathChars], input[kPathChars], reference[kPathChars], out[kPathChars];
    Library library;
    if (!Load(dll, &library)) return;
    Content got = {0}, want = {0};
    for (int i = 0; i < count; ++i) {
        int expected = kResultOk;
        size_t length = WideLength(cases[i]);
        size_t colon = 0;
        while (colon < length && cases[i][colon] != L':') ++colon;
        if (colon < length) {
            expected = 0;
            for (size_t at = colon + 1; at < length; ++at) expected = expected * 10 + (cases[i][at] - L'0');
        }
        Path(name, cases[i], NULL, NULL);
        name[colon < kPathChars ? colon : kPathChars - 1] = 0;
        Append(Path(input, work, L"\\cases\\", name), L".wav");
        Append(Path(reference, work, L"\\cases\\", name), L".ref.wav");
        Append(Path(out, work, L"\\", name), L".out.wav");
        DeleteFileW(out);
        int result = library.stretch(input, out);
        int haveOutput = ReadAll(out, &got);
        int haveReference = ReadAll(reference, &want);
        int ok = result == expected && haveOutput == haveReference && Same(&got, &want);
        Print(ok ? "PASS: convert " : "FAIL: convert ");
        PrintWide(name);
        Print(" matches the Linux build byte for byte");
        if (!ok) {
            Print(" (result ");
            PrintNumber(result);
            Print(", ");
            PrintNumber(got.size);
            Print(" bytes against ");
            PrintNumber(want.size);
            Print(")");
        }
        Print("\n");
        failures += !ok;
    }
    Release(&got);
    Release(&want);
    FreeLibrary(library.module);
}

/* Whether any file in DIR starts with PREFIX: a name the DLL might have
 * mangled on its way to the system is found too. */
static int AnyStartingWith(const wchar_t* dir, const wchar_t* prefix) {
    static wchar_t pattern[kPathChars];
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Append(Path(pattern, dir, L"\\", prefix), L"*"), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    FindClose(search);
    return 1;
}

static void TestFaults(const wchar_t* dll, const wchar_t* work) {
    static wchar_t dir[kPathChars], input[kPathChars], out[kPathChars], other[kPathChars];
    Library library;
    if (!Load(dll, &library)) return;
    StretchFn stretch = library.stretch;
    Content original = {0}, reference = {0}, got = {0};
    Path(input, work, L"\\cases\\block_8192.wav", NULL);
    Path(out, work, L"\\cases\\block_8192.ref.wav", NULL);
    Path(dir, work, L"\\faults", NULL);
    CreateDirectoryW(dir, NULL);
    if (!Check("the cases are there and the inputs written",
               ReadAll(input, &original) && ReadAll(out, &reference) &&
                   WriteAll(Path(input, dir, L"\\source.wav", NULL), &original))) {
        FreeLibrary(library.module);
        return;
    }

    Path(out, dir, L"\\from-missing.wav", NULL);
    Check("a missing input fails and creates no output",
          stretch(Path(other, dir, L"\\missing.wav", NULL), out) == 1 && !Exists(out));

    Path(out, dir, L"\\from-null.wav", NULL);
    Check("null and empty paths fail and create nothing",
          stretch(NULL, out) == 1 && stretch(input, NULL) == 1 && stretch(NULL, NULL) == 1 &&
              stretch(L"", out) == 1 && stretch(input, L"") == 1 && !Exists(out));

    /* One file named twice, by another spelling too: refused before
     * anything is truncated. */
    Path(other, dir, L"\\sub\\..\\SOURCE.WAV", NULL);
    int twice = stretch(input, input);
    int otherName = stretch(input, other);
    Check("the same file as input and output is refused, the input untouched",
          twice == 1 && otherName == 1 && ReadAll(input, &got) && Same(&got, &original));

    /* The input must be closed again after a failed output, or Windows
     * would refuse to delete it. */
    Path(other, dir, L"\\released.wav", NULL);
    Check("an uncreatable output fails and releases the input",
          WriteAll(other, &original) &&
              stretch(other, Path(out, dir, L"\\no-such-folder\\out.wav", NULL)) == 1 && DeleteFileW(other) != 0);

    /* Names outside the ANSI code page, and one beyond the Basic
     * Multilingual Plane (a surrogate pair), both ways. */
    Path(input, dir, L"\\\u03b1\u03b2\u4e2d.wav", NULL);
    Path(out, dir, L"\\\u03b1\u03b2\u4e2d-\U0001F3B5.wav", NULL);
    Path(other, dir, L"\\\U0001F3B5 back.wav", NULL);
    int written = WriteAll(input, &original);
    int first = stretch(input, out);
    int firstSame = ReadAll(out, &got) && Same(&got, &reference);
    int second = stretch(out, other); /* a 1600 samples/s input converts as well */
    Check("non-ANSI and astral file names convert exactly",
          written && first == kResultOk && firstSame && second == kResultOk && Exists(other));

    /* A lone surrogate is no name at all: refused, nothing created under
     * any spelling of it. */
    int high = stretch(input, Path(out, dir, L"\\lone\xD800x.wav", NULL));
    int low = stretch(input, Path(out, dir, L"\\lone\xDC00.wav", NULL));
    int highAtEnd = stretch(input, Path(out, dir, L"\\lone\xD83C", NULL));
    int asInput = stretch(Path(other, dir, L"\\lone\xDC00.wav", NULL), Path(out, dir, L"\\from-lone.wav", NULL));
    Check("unpaired surrogates in a path fail and create nothing",
          high == 1 && low == 1 && highAtEnd == 1 && asInput == 1 && !AnyStartingWith(dir, L"lone") &&
              !Exists(out));

    Release(&original);
    Release(&reference);
    Release(&got);
    FreeLibrary(library.module);
}

/* What a failed recording check saw, on a line of its own (unended). */
static void PrintRecording(int started, int seconds, DWORD size) {
    Print("  start ");
    PrintNumber(started);
    Print(", stop ");
    PrintNumber(seconds);
    Print(", ");
    PrintNumber(size);
    Print(" bytes");
}

static void TestRecorderWithoutDevice(const wchar_t* dll, const wchar_t* work) {
    static wchar_t path[kPathChars];
    Library library;
    if (!Load(dll, &library)) return;
    Path(path, work, L"\\recording-no-device.wav", NULL);
    DeleteFileW(path);
    int idle = library.stop();
    int started = library.start(path);
    int seconds = library.stop();
    Content file = {0};
    int ok = idle == 0 && started == 1 && seconds == 0 && ReadAll(path, &file) && file.size == 44 &&
             U32At(&file, 40) == 0 && U32At(&file, 4) == 36;
    Check("Stop with nothing recording returns 0; without a capture device Start returns 1 and Stop 0, "
          "leaving an empty WAV",
          ok);
    if (!ok) {
        PrintRecording(started, seconds, file.size);
        Print("\n");
    }
    Release(&file);
    Check("a recording file that cannot be created: Start returns 4",
          library.start(Path(path, work, L"\\no-such-folder\\recording.wav", NULL)) == 4 && library.stop() == 0);
    int finished = -1;
    Path(path, work, L"\\recording-no-device-next.wav", NULL);
    DeleteFileW(path);
    Check("without a recording NextFile returns 5, stores 0 seconds and creates nothing",
          library.nextFile(path, &finished) == 5 && finished == 0 &&
              GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES);
    FreeLibrary(library.module);
}

/* 3.5 s of the ramp: at least two whole seconds, one unbroken run of it, the
 * header's data size equal to Stop's count and to what follows it. */
static void TestRecorderRamp(const wchar_t* dll, const wchar_t* work) {
    static wchar_t path[kPathChars];
    Library library;
    if (!Load(dll, &library)) return;
    Path(path, work, L"\\recording-ramp.wav", NULL);
    DeleteFileW(path);
    int started = library.start(path);
    Sleep(started == kResultOk ? 3500 : 0);
    int seconds = library.stop();
    Content file = {0};
    int read = ReadAll(path, &file);
    DWORD expected = 44 + (DWORD)(seconds > 0 ? seconds : 0) * 16000;
    int contiguous = read && file.size == expected;
    DWORD breakAt = 0;
    for (DWORD at = 46; contiguous && at + 1 < file.size; at += 2) {
        unsigned previous = (unsigned)file.bytes[at - 2] | ((unsigned)file.bytes[at - 1] << 8);
        unsigned current = (unsigned)file.bytes[at] | ((unsigned)file.bytes[at + 1] << 8);
        contiguous = current == ((previous + 1) & 0xFFFF);
        breakAt = contiguous ? 0 : at;
    }
    int ok = started == kResultOk && seconds >= 2 && contiguous && U32At(&file, 40) == expected - 44 &&
             U32At(&file, 24) == 8000;
    Check("a recording holds whole seconds of one contiguous run of the source", ok);
    if (!ok) {
        PrintRecording(started, seconds, file.size);
        Print(", break at byte ");
        PrintNumber(breakAt);
        Print("\n");
    }
    Release(&file);
    FreeLibrary(library.module);
}

static int SameText(const wchar_t* a, const wchar_t* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

static int Run(void) {
    static wchar_t* argv[kMaxArgs];
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    int argc = SplitCommandLine(GetCommandLineW(), argv);
    if (argc < 4) {
        Print("usage: arm_dll_host DLL WORKDIR exports|convert NAME:RESULT...|faults|recorder-none|recorder-ramp\n");
        return 2;
    }
    const wchar_t* dll = argv[1];
    const wchar_t* work = argv[2];
    const wchar_t* mode = argv[3];
    if (SameText(mode, L"exports")) {
        TestExports(dll);
    } else if (SameText(mode, L"convert")) {
        TestConvert(dll, work, argc - 4, argv + 4);
    } else if (SameText(mode, L"faults")) {
        TestFaults(dll, work);
    } else if (SameText(mode, L"recorder-none")) {
        TestRecorderWithoutDevice(dll, work);
    } else if (SameText(mode, L"recorder-ramp")) {
        TestRecorderRamp(dll, work);
    } else {
        Print("arm_dll_host: unknown mode\n");
        return 2;
    }
    return failures == 0 ? 0 : 1;
}

/* No C runtime starts this program: the entry point is its own. */
void __cdecl mainCRTStartup(void) { ExitProcess((UINT)Run()); }
