"""TolvaneWAVTimeStretch from Python: time-stretch and record 16-bit mono WAVs.

    import tolvane

    tolvane.stretch("speech-8000.wav", "speech-1600.wav")
    with tolvane.Recorder("take.wav") as take:
        ...                                   # recording until the block ends
        take.next_file("take-2.wav")          # on in a new file, without a gap
    print(take.seconds)

The library is loaded on first use: the copy a wheel holds beside this module
if there is one, otherwise the file the environment variable TOLVANE_LIBRARY
names, otherwise the one the system's loader finds
(libTolvaneWAVTimeStretch.so.1; TolvaneWAVTimeStretch.dll on the PATH on
Windows). Calls into it release the GIL, so conversions may run on several
threads at once.
"""

import ctypes
import ctypes.util
import enum
import functools
import os
import sys
import threading

__all__ = [
    "stretch",
    "Recorder",
    "StretchError",
    "RecorderError",
    "StretchResult",
    "RecorderResult",
    "LIBRARY_ENV",
]

try:
    # Written when the wheel is made, from the project's version.
    from ._version import __version__
except ImportError:  # run from the source tree
    __version__ = None

LIBRARY_ENV = "TOLVANE_LIBRARY"

_RESULT_OK = 999


class StretchResult(enum.IntEnum):
    """What WAVStrech returns."""

    OK = 999
    FAILED = 1  # input or output could not be opened, read or written


class RecorderResult(enum.IntEnum):
    """What SoundRecorderStart and SoundRecorderNextFile return."""

    OK = 999
    OPEN_FAILED = 1  # no device takes 8000 Hz 16-bit mono, or one already records
    QUEUE_FAILED = 2  # the device would not take the capture buffer
    START_FAILED = 3  # the device would not start
    FILE_FAILED = 4  # the file could not be created (Start: no device was opened;
    #                  NextFile: the recording goes on in its file)
    NOT_RECORDING = 5  # NextFile: no recording runs


def _as_result(kind, code):
    try:
        return kind(code)
    except ValueError:  # a code this binding does not know yet
        return code


class StretchError(Exception):
    """A conversion failed; ``result`` holds the library's code."""

    def __init__(self, result, input, output):
        super().__init__("cannot time-stretch %r into %r (result %d)" % (input, output, result))
        self.result = _as_result(StretchResult, result)
        self.input = input
        self.output = output


class RecorderError(Exception):
    """A recording did not start, or did not move to a new file; ``result``
    holds the library's code."""

    def __init__(self, result, path):
        self.result = _as_result(RecorderResult, result)
        name = self.result.name if isinstance(self.result, RecorderResult) else "unknown"
        super().__init__("cannot record into %r: %s (result %d)" % (path, name, result))
        self.path = path


def _encode_path(path, byteorder=sys.byteorder):
    """Returns ``path`` (str, bytes or os.PathLike) as the library takes it:
    UTF-16 in the machine's byte order, with a 16-bit NUL at the end.

    ctypes' c_wchar_p is not that: wchar_t is 32 bits on Linux.
    """
    path = os.fspath(path)
    if isinstance(path, bytes):
        path = os.fsdecode(path)
    if "\0" in path:
        # The library would stop at it and open some other file.
        raise ValueError("embedded null character in path")
    # surrogatepass: a name that is not valid Unicode reaches the library,
    # which refuses it with its own result, as it refuses a missing file.
    codec = "utf-16-le" if byteorder == "little" else "utf-16-be"
    return path.encode(codec, "surrogatepass") + b"\0\0"


if sys.platform == "win32":
    _LIBRARY_FILE = "TolvaneWAVTimeStretch.dll"
elif sys.platform == "darwin":
    _LIBRARY_FILE = "libTolvaneWAVTimeStretch.1.dylib"
else:
    _LIBRARY_FILE = "libTolvaneWAVTimeStretch.so.1"

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _library_candidates(package_dir):
    """The libraries to try, in order: the wheel's own copy, then the file
    TOLVANE_LIBRARY names or, without it, what the system's loader finds.

    A library named explicitly that will not load is an error, not a reason
    to take some other copy from the system.
    """
    candidates = []
    bundled = os.path.join(package_dir, _LIBRARY_FILE)
    if os.path.isfile(bundled):
        candidates.append(bundled)
    explicit = os.environ.get(LIBRARY_ENV)
    if explicit:
        candidates.append(explicit)
    elif sys.platform == "win32":
        candidates += [ctypes.util.find_library("TolvaneWAVTimeStretch"), _LIBRARY_FILE]
    else:
        candidates += [_LIBRARY_FILE, ctypes.util.find_library("TolvaneWAVTimeStretch")]
    return candidates


def _load_library(package_dir):
    errors = []
    for name in _library_candidates(package_dir):
        if not name:
            continue
        try:
            # CDLL: the exports use the C calling convention everywhere,
            # 32-bit Windows included.
            lib = ctypes.CDLL(name)
            break
        except OSError as e:
            errors.append(str(e))
    else:
        raise OSError(
            "cannot load the TolvaneWAVTimeStretch library (%s); install it or set %s to its path"
            % ("; ".join(errors) or "not found", LIBRARY_ENV)
        )
    # Paths travel as the bytes of _encode_path().
    lib.WAVStrech.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    lib.WAVStrech.restype = ctypes.c_int32
    lib.SoundRecorderStart.argtypes = [ctypes.c_char_p]
    lib.SoundRecorderStart.restype = ctypes.c_int32
    lib.SoundRecorderStop.argtypes = []
    lib.SoundRecorderStop.restype = ctypes.c_int32
    lib.SoundRecorderNextFile.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32)]
    lib.SoundRecorderNextFile.restype = ctypes.c_int32
    return lib


@functools.lru_cache(maxsize=None)
def _library():
    return _load_library(_PACKAGE_DIR)


def stretch(input, output):
    """Writes ``output``, a 1600 Hz WAV holding every fifth sample of each
    4096-sample block of ``input`` (16-bit mono, taken as 8000 Hz).

    The library prints one line on the process's standard output. Raises
    StretchError if either file could not be opened, read or written.
    """
    result = _library().WAVStrech(_encode_path(input), _encode_path(output))
    if result != _RESULT_OK:
        raise StretchError(result, input, output)


class Recorder:
    """Records the default audio input (8000 Hz, 16-bit mono) into a WAV file
    in whole seconds, from construction until stop() or the end of the
    ``with`` block; next_file() moves it to another file without a gap. One
    recording at a time per process.

    Raises RecorderError if the recording does not start; nothing of it is
    then left running.
    """

    def __init__(self, path):
        self.path = path
        self.seconds = None  # set by stop(): the whole seconds recorded
        self._lock = threading.Lock()
        result = _library().SoundRecorderStart(_encode_path(path))
        # On failure there is nothing to stop: the library has closed what it
        # opened, and a recording that made it busy is not ours.
        if result != _RESULT_OK:
            raise RecorderError(result, path)
        self._running = True

    def stop(self):
        """Ends the recording and returns the whole seconds in the file, as its
        header states. Later calls return the same number and touch nothing."""
        with self._lock:
            # Only the first call may reach the library: another would stop a
            # recording that a later Recorder has started.
            if self._running:
                self._running = False
                self.seconds = _library().SoundRecorderStop()
            return self.seconds

    def next_file(self, path):
        """Goes on recording into ``path``, a new file, without a gap: from
        the next whole second on (the second being captured at the call is
        its first), the sound goes there. Returns once the file left
        is finished, with the whole seconds it holds; ``path`` is then the
        recording's file.

        Raises RecorderError: FILE_FAILED when ``path`` could not be created
        (the recording goes on in its file), NOT_RECORDING once stopped.
        """
        with self._lock:
            # Once stopped, the library's recording (if any) is not ours.
            if not self._running:
                raise RecorderError(RecorderResult.NOT_RECORDING, path)
            seconds = ctypes.c_int32(0)
            result = _library().SoundRecorderNextFile(_encode_path(path), ctypes.byref(seconds))
            if result != _RESULT_OK:
                raise RecorderError(result, path)
            self.path = path
            return seconds.value

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.stop()
