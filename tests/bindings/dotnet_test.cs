// The C# binding against the built library, under Mono: a conversion checked
// byte for byte through non-ASCII and non-BMP paths, the failure codes, and a
// recording from the test source (HOME's .asoundrc leads to it).
//
// Usage: mono dotnet_test.exe SCRATCH_DIR
// TOLVANE_TEST_SOURCE: the directory of the running test source (pulse_source.sh).
using System;
using System.Collections.Generic;
using System.IO;
using System.Threading;
using TolvaneWAVTimeStretch;

static class BindingTest
{
    static string dir;

    static int Main(string[] args)
    {
        dir = args[0];
        if (Directory.Exists(dir)) Directory.Delete(dir, true);
        Directory.CreateDirectory(dir);
        Run("conversion through UTF-16 paths is exact", Conversion);
        Run("failures carry their result codes", Failures);
        Run("recording from the test source", Recording);
        return failed == 0 ? 0 : 1;
    }

    static int failed;

    static void Run(string name, Action test)
    {
        try { test(); Console.WriteLine("ok   " + name); }
        catch (Exception e) { failed++; Console.WriteLine("FAIL " + name + ": " + e); }
    }

    static void Check(bool condition, string what) { if (!condition) throw new Exception(what); }

    static void Conversion()
    {
        // Two full blocks and a partial one: the selection restarts at each.
        var input = new short[2 * 4096 + 13];
        for (int i = 0; i < input.Length; i++) input[i] = (short)(i * 7);
        var expected = new List<short>();
        for (int block = 0; block < input.Length; block += 4096) {
            int n = Math.Min(4096, input.Length - block);
            for (int j = 0; j < n / 5; j++) expected.Add(input[block + 5 * j]);
        }
        string inPath = Path.Combine(dir, "Gr\u00FC\u00DFe \u5165\u529B.wav");
        string outPath = Path.Combine(dir, "\U0001D11E Ausgabe \U0001F3B5.wav");
        File.WriteAllBytes(inPath, Wav(8000, input));
        Tolvane.Stretch(inPath, outPath);
        Check(Convert.ToBase64String(File.ReadAllBytes(outPath)) ==
              Convert.ToBase64String(Wav(1600, expected.ToArray())), "output differs from the expected bytes");
    }

    static void Failures()
    {
        string missing = Path.Combine(dir, "missing \u00E9.wav"), output = Path.Combine(dir, "never.wav");
        try { Tolvane.Stretch(missing, output); throw new Exception("no exception"); }
        catch (StretchException e) { Check(e.Result == StretchResult.Failed, "result " + e.Result); }
        Check(!File.Exists(output), "an output was created");
        try { Tolvane.Stretch(output + "\0.wav", output); throw new Exception("NUL accepted"); }
        catch (ArgumentException) { }
        try { new Recorder(Path.Combine(dir, "no dir/take.wav")); throw new Exception("no exception"); }
        catch (RecorderException e) { Check(e.Result == RecorderResult.FileFailed, "result " + e.Result); }
    }

    static void Recording()
    {
        string source = Environment.GetEnvironmentVariable("TOLVANE_TEST_SOURCE");
        if (source == null || !File.Exists(Path.Combine(source, "native"))) {
            Console.WriteLine("skip recording: the test capture source is not running (pulseaudio not installed?)");
            return;
        }
        // Leaving `using` must stop it: the next Start would find it busy.
        string first = Path.Combine(dir, "empty \U0001D11E.wav");
        using (new Recorder(first)) { }
        CheckWholeSeconds(File.ReadAllBytes(first));

        string path = Path.Combine(dir, "take \U0001D11E.wav");
        int seconds;
        using (var recorder = new Recorder(path)) {
            var deadline = DateTime.UtcNow.AddSeconds(20);
            while (new FileInfo(path).Length < 44 + 3 * 16000 && DateTime.UtcNow < deadline) Thread.Sleep(20);
            seconds = recorder.Stop();
        }
        byte[] file = File.ReadAllBytes(path);
        Check(seconds >= 3 && CheckWholeSeconds(file) == seconds, "Stop returned " + seconds);
        for (int i = 46; i < file.Length; i += 2)
            Check((ushort)(U16(file, i - 2) + 1) == U16(file, i), "the ramp breaks at byte " + i);

        // Moved from file to file: each holds what it was reported with, and
        // joined they are one run of the ramp.
        var parts = new[] { Path.Combine(dir, "part 0.wav"), Path.Combine(dir, "part 1 \U0001D11E.wav") };
        var counts = new int[2];
        Recorder moved;
        using (moved = new Recorder(parts[0])) {
            Thread.Sleep(1500);
            counts[0] = moved.NextFile(parts[1]);
            try { moved.NextFile(Path.Combine(dir, "no dir/x.wav")); throw new Exception("no exception"); }
            catch (RecorderException e) { Check(e.Result == RecorderResult.FileFailed, "result " + e.Result); }
            Thread.Sleep(1500);
            counts[1] = moved.Stop();
        }
        try { moved.NextFile(Path.Combine(dir, "late.wav")); throw new Exception("no exception"); }
        catch (RecorderException e) { Check(e.Result == RecorderResult.NotRecording, "result " + e.Result); }
        Check(!File.Exists(Path.Combine(dir, "late.wav")), "NextFile after Stop made a file");
        var joined = new List<ushort>();
        for (int p = 0; p < 2; p++) {
            byte[] part = File.ReadAllBytes(parts[p]);
            Check(CheckWholeSeconds(part) == counts[p], "file " + p + " holds other than " + counts[p] + " s");
            for (int i = 44; i < part.Length; i += 2) joined.Add(U16(part, i));
        }
        Check(joined.Count >= 2 * 8000, joined.Count + " samples in the files");
        for (int i = 1; i < joined.Count; i++)
            Check((ushort)(joined[i - 1] + 1) == joined[i], "the files' ramp breaks at sample " + i);
    }

    // The header states exactly the whole seconds that follow it; returns them.
    static int CheckWholeSeconds(byte[] file)
    {
        int data = file.Length - 44;
        Check(data >= 0 && data % 16000 == 0, "file of " + file.Length + " bytes");
        byte[] header = Wav(8000, new short[data / 2]);
        for (int i = 0; i < 44; i++) Check(file[i] == header[i], "header byte " + i);
        return data / 16000;
    }

    static ushort U16(byte[] b, int at) { return (ushort)(b[at] | b[at + 1] << 8); }

    // A 44-byte-header PCM mono 16-bit WAV, every field little-endian.
    static byte[] Wav(int rate, short[] samples)
    {
        var s = new MemoryStream();
        Action<string> tag = t => { foreach (char ch in t) s.WriteByte((byte)ch); };
        Action<long, int> le = (v, bytes) => { for (int i = 0; i < bytes; i++) s.WriteByte((byte)(v >> 8 * i)); };
        tag("RIFF"); le(36 + 2 * samples.Length, 4); tag("WAVEfmt "); le(16, 4); le(1, 2); le(1, 2);
        le(rate, 4); le(2 * rate, 4); le(2, 2); le(16, 2); tag("data"); le(2 * samples.Length, 4);
        foreach (short v in samples) le(v, 2);
        return s.ToArray();
    }
}
