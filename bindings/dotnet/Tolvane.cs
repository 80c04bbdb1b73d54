// TolvaneWAVTimeStretch for .NET: the library's four functions through
// P/Invoke, and a small wrapper that turns their result codes into exceptions.
//
// One file to add to a project. It uses only what .NET Framework, current .NET
// and Mono all have (no Mono-only API), so the same source builds and runs on
// each.
//
//   Tolvane.Stretch("in.wav", "out.wav");         // throws StretchException
//   using (var rec = new Recorder("take.wav"))     // throws RecorderException
//   {
//       ...
//       int first = rec.NextFile("take-2.wav");   // on in a new file, no gap
//       int seconds = rec.Stop();                 // or let `using` stop it
//   }
using System;
using System.Runtime.InteropServices;

namespace TolvaneWAVTimeStretch
{
    /// <summary>Results of <see cref="Native.WAVStrech"/>.</summary>
    public enum StretchResult
    {
        Ok = 999,
        /// <summary>The input or the output could not be opened, read or
        /// written; the library printed which on standard output.</summary>
        Failed = 1,
    }

    /// <summary>Results of <see cref="Native.SoundRecorderStart"/> and
    /// <see cref="Native.SoundRecorderNextFile"/>.</summary>
    public enum RecorderResult
    {
        Ok = 999,
        /// <summary>No capture device takes 8000 Hz 16-bit mono, or a
        /// recording already runs in this process.</summary>
        OpenFailed = 1,
        /// <summary>The device would not take the capture buffer.</summary>
        QueueFailed = 2,
        /// <summary>The device would not start capturing.</summary>
        StartFailed = 3,
        /// <summary>The output file could not be created or its first header
        /// written. Start: no device was opened; NextFile: the recording goes
        /// on in its file.</summary>
        FileFailed = 4,
        /// <summary>NextFile: no recording runs.</summary>
        NotRecording = 5,
    }

    /// <summary>
    /// The exports as the library declares them. The name carries no
    /// extension or prefix: .NET and Mono add ".dll" on Windows and try
    /// "lib...so" on Linux. Every import states Cdecl: the exports use the C
    /// convention, and on 32-bit Windows .NET's default (stdcall) would
    /// unbalance the stack. Paths go in as UTF-16 (LPWStr) on every system.
    /// ExactSpelling: the names are looked up as they stand, never with the
    /// "W" suffix that CharSet.Unicode would otherwise try first on Windows.
    /// </summary>
    public static class Native
    {
        public const string Library = "TolvaneWAVTimeStretch";

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode, ExactSpelling = true)]
        public static extern StretchResult WAVStrech(
            [MarshalAs(UnmanagedType.LPWStr)] string inputPath,
            [MarshalAs(UnmanagedType.LPWStr)] string outputPath);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode, ExactSpelling = true)]
        public static extern RecorderResult SoundRecorderStart(
            [MarshalAs(UnmanagedType.LPWStr)] string outputPath);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int SoundRecorderStop();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, CharSet = CharSet.Unicode, ExactSpelling = true)]
        public static extern RecorderResult SoundRecorderNextFile(
            [MarshalAs(UnmanagedType.LPWStr)] string nextPath, out int finishedSeconds);
    }

    /// <summary>A conversion that failed; <see cref="Result"/> is the code.</summary>
    public class StretchException : Exception
    {
        public StretchResult Result { get; private set; }

        public StretchException(StretchResult result, string input, string output)
            : base("cannot time-stretch '" + input + "' into '" + output + "' (result " + (int)result + ")")
        {
            Result = result;
        }
    }

    /// <summary>A recording that did not start or did not move to a new file;
    /// <see cref="Result"/> is the code.</summary>
    public class RecorderException : Exception
    {
        public RecorderResult Result { get; private set; }

        public RecorderException(RecorderResult result, string path)
            : base("cannot record into '" + path + "': " + result + " (result " + (int)result + ")")
        {
            Result = result;
        }
    }

    public static class Tolvane
    {
        /// <summary>
        /// Writes `output`, a 1600 Hz WAV holding every fifth sample of each
        /// 4096-sample block of `input` (16-bit mono, taken as 8000 Hz). The
        /// library also prints one line on the process's standard output.
        /// </summary>
        /// <exception cref="StretchException">either file could not be
        /// opened, read or written.</exception>
        public static void Stretch(string input, string output)
        {
            CheckPath(input, "input");
            CheckPath(output, "output");
            StretchResult result = Native.WAVStrech(input, output);
            if (result != StretchResult.Ok) throw new StretchException(result, input, output);
        }

        // The marshaller would cut a path at an embedded NUL and open some
        // other file; refuse it as the framework's own file calls do.
        internal static void CheckPath(string path, string name)
        {
            if (path == null) throw new ArgumentNullException(name);
            if (path.IndexOf('\0') >= 0) throw new ArgumentException("path holds a NUL character", name);
        }
    }

    /// <summary>
    /// Records the default audio input (8000 Hz, 16-bit mono) into a WAV file
    /// in whole seconds, from construction until <see cref="Stop"/> or
    /// <see cref="Dispose"/>; <see cref="NextFile"/> moves it to another file
    /// without a gap. One recording at a time per process.
    /// </summary>
    public sealed class Recorder : IDisposable
    {
        private readonly object gate = new object();
        private bool running;
        private int seconds;

        /// <exception cref="RecorderException">the recording did not start;
        /// nothing of it is left running.</exception>
        public Recorder(string path)
        {
            Tolvane.CheckPath(path, "path");
            RecorderResult result = Native.SoundRecorderStart(path);
            // On failure there is nothing to stop: the library has closed
            // what it opened, and a recording that made it busy is not ours.
            if (result != RecorderResult.Ok) throw new RecorderException(result, path);
            running = true;
        }

        /// <summary>Ends the recording and returns the whole seconds in the
        /// file, as its header states. Later calls return the same number and
        /// touch nothing.</summary>
        public int Stop()
        {
            lock (gate)
            {
                // Only the first call may reach the library: another would
                // stop a recording that a later Recorder has started.
                if (running)
                {
                    running = false;
                    seconds = Native.SoundRecorderStop();
                }
                return seconds;
            }
        }

        /// <summary>Goes on recording into `path`, a new file, without a gap:
        /// from the next whole second on (the second being captured at the
        /// call is its first), the sound goes there. Returns once the file
        /// left is finished, with the whole seconds it holds.</summary>
        /// <exception cref="RecorderException">FileFailed: `path` could not be
        /// created, and the recording goes on in its file; NotRecording: this
        /// recording has been stopped.</exception>
        public int NextFile(string path)
        {
            Tolvane.CheckPath(path, "path");
            lock (gate)
            {
                // Once stopped, the library's recording (if any) is not ours.
                if (!running) throw new RecorderException(RecorderResult.NotRecording, path);
                int finished;
                RecorderResult result = Native.SoundRecorderNextFile(path, out finished);
                if (result != RecorderResult.Ok) throw new RecorderException(result, path);
                return finished;
            }
        }

        public void Dispose()
        {
            Stop();
        }
    }
}
