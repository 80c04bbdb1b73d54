"""The Python binding, installed from its wheel, against the library inside: a
conversion checked byte for byte through non-ASCII and non-BMP paths, the
failure codes, path encoding in both byte orders, the order the library is
looked for in, and a recording from the test source (HOME's .asoundrc leads
to it).

Environment: TOLVANE_TEST_DIR (scratch), TOLVANE_TEST_LIBRARY (the built
library's file), TOLVANE_TEST_SOURCE (the test source's
directory, as pulse_source.sh made it),
TOLVANE_TEST_VERSION (the project's version).
"""

import os
import pathlib
import shutil
import struct
import time
import unittest

import tolvane


def wav(rate, samples):
    """A 44-byte-header PCM mono 16-bit WAV, every field little-endian."""
    data = struct.pack("<%dh" % len(samples), *samples)
    return (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt "
            + struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16)
            + b"data" + struct.pack("<I", len(data)) + data)


def whole_seconds(test, file):
    """Checks that the header states exactly the whole seconds after it."""
    data = len(file) - 44
    test.assertTrue(data >= 0 and data % 16000 == 0, "file of %d bytes" % len(file))
    test.assertEqual(file[:44], wav(8000, [0] * (data // 2))[:44])
    return data // 16000


class Binding(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(os.environ["TOLVANE_TEST_DIR"], "cases", self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.dir, ignore_errors=True)
        self.dir.mkdir(parents=True)

    def test_conversion_through_utf16_paths_is_exact(self):
        # Two full blocks and a partial one: the selection restarts at each.
        samples = [(i * 7) % 65536 - 32768 for i in range(2 * 4096 + 13)]
        expected = []
        for start in range(0, len(samples), 4096):
            block = samples[start:start + 4096]
            expected += block[:len(block) // 5 * 5:5]
        source = self.dir / "Gr\u00fc\u00dfe \u5165\u529b.wav"
        target = str(self.dir / "\U0001d11e Ausgabe \U0001f3b5.wav")
        source.write_bytes(wav(8000, samples))
        tolvane.stretch(source, target)  # os.PathLike and str
        self.assertEqual(pathlib.Path(target).read_bytes(), wav(1600, expected))

    def test_failures_carry_their_result_codes(self):
        output = self.dir / "never.wav"
        with self.assertRaises(tolvane.StretchError) as raised:
            tolvane.stretch(self.dir / "missing \u00e9.wav", output)
        self.assertIs(raised.exception.result, tolvane.StretchResult.FAILED)
        self.assertFalse(output.exists())
        with self.assertRaises(ValueError):
            tolvane.stretch(str(output) + "\0.wav", output)
        with self.assertRaises(tolvane.RecorderError) as raised:
            tolvane.Recorder(self.dir / "no dir" / "take.wav")
        self.assertIs(raised.exception.result, tolvane.RecorderResult.FILE_FAILED)

    def test_paths_are_nul_terminated_utf16_in_either_byte_order(self):
        # A big-endian machine (s390x) takes the second form.
        path = "\u00e9\U0001d11e"
        self.assertEqual(tolvane._encode_path(path, "little"), b"\xe9\x00\x34\xd8\x1e\xdd\x00\x00")
        self.assertEqual(tolvane._encode_path(path, "big"), b"\x00\xe9\xd8\x34\xdd\x1e\x00\x00")

    def test_library_found_in_the_package_then_the_environment(self):
        # The wheel's own copy, whatever the environment names.
        bundled = os.path.join(os.path.dirname(tolvane.__file__), tolvane._LIBRARY_FILE)
        self.assertEqual(tolvane._library()._name, bundled)
        saved = os.environ.get(tolvane.LIBRARY_ENV)
        try:
            os.environ[tolvane.LIBRARY_ENV] = str(self.dir / "nowhere.so")
            self.assertEqual(tolvane._load_library(os.path.dirname(bundled))._name, bundled)
            # Without one, the file named, and no other copy if that fails.
            with self.assertRaisesRegex(OSError, tolvane.LIBRARY_ENV):
                tolvane._load_library(str(self.dir))
            os.environ[tolvane.LIBRARY_ENV] = os.environ["TOLVANE_TEST_LIBRARY"]
            self.assertEqual(tolvane._load_library(str(self.dir))._name, os.environ["TOLVANE_TEST_LIBRARY"])
        finally:
            if saved is None:
                os.environ.pop(tolvane.LIBRARY_ENV, None)
            else:
                os.environ[tolvane.LIBRARY_ENV] = saved

    def test_installed_version_is_the_project_version(self):
        from importlib.metadata import version
        self.assertEqual(version("tolvane"), os.environ["TOLVANE_TEST_VERSION"])
        self.assertEqual(tolvane.__version__, os.environ["TOLVANE_TEST_VERSION"])

    @unittest.skipUnless(os.path.exists(os.path.join(os.environ.get("TOLVANE_TEST_SOURCE", "/nonexistent"), "native")),
                         "the test capture source is not running (pulseaudio not installed?)")
    def test_recording_from_the_test_source(self):
        # Leaving `with` must stop it: the next Start would find it busy.
        first = self.dir / "empty \U0001d11e.wav"
        with tolvane.Recorder(first) as empty:
            pass
        self.assertEqual(whole_seconds(self, first.read_bytes()), empty.seconds)

        path = self.dir / "take \U0001d11e.wav"
        with tolvane.Recorder(path) as recorder:
            deadline = time.monotonic() + 20
            while path.stat().st_size < 44 + 3 * 16000 and time.monotonic() < deadline:
                time.sleep(0.02)
            seconds = recorder.stop()
        self.assertGreaterEqual(seconds, 3)
        self.assertEqual(recorder.stop(), seconds)
        file = path.read_bytes()
        self.assertEqual(whole_seconds(self, file), seconds)
        ramp = struct.unpack("<%dH" % ((len(file) - 44) // 2), file[44:])
        breaks = [i for i in range(1, len(ramp)) if ramp[i] != (ramp[i - 1] + 1) % 65536]
        self.assertEqual(breaks, [], "the ramp breaks")

    @unittest.skipUnless(os.path.exists(os.path.join(os.environ.get("TOLVANE_TEST_SOURCE", "/nonexistent"), "native")),
                         "the test capture source is not running (pulseaudio not installed?)")
    def test_recording_moved_from_file_to_file(self):
        paths = [self.dir / ("part %d \U0001d11e.wav" % n) for n in range(3)]
        seconds = []
        with tolvane.Recorder(paths[0]) as recorder:
            for path in paths[1:]:
                time.sleep(1.3)
                seconds.append(recorder.next_file(path))
                self.assertEqual(recorder.path, path)
            with self.assertRaises(tolvane.RecorderError) as raised:
                recorder.next_file(self.dir / "no dir" / "x.wav")
            self.assertIs(raised.exception.result, tolvane.RecorderResult.FILE_FAILED)
            time.sleep(1.3)
        seconds.append(recorder.seconds)
        with self.assertRaises(tolvane.RecorderError) as raised:
            recorder.next_file(self.dir / "late.wav")
        self.assertIs(raised.exception.result, tolvane.RecorderResult.NOT_RECORDING)
        self.assertFalse((self.dir / "late.wav").exists())
        ramp = []
        for path, counted in zip(paths, seconds):
            file = path.read_bytes()
            self.assertEqual(whole_seconds(self, file), counted)
            ramp += struct.unpack("<%dH" % ((len(file) - 44) // 2), file[44:])
        self.assertGreaterEqual(len(ramp), 2 * 8000)
        breaks = [i for i in range(1, len(ramp)) if ramp[i] != (ramp[i - 1] + 1) % 65536]
        self.assertEqual(breaks, [], "the ramp breaks")


if __name__ == "__main__":
    unittest.main(verbosity=2)
