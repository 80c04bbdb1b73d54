// Converts speech-8000.wav into speech-1600.wav, then records the default
// audio input into take.wav until Enter is pressed. Build it together with
// the binding, which is one file:
//   mcs -out:Demo.exe examples/dotnet/Demo.cs bindings/dotnet/Tolvane.cs
using System;
using TolvaneWAVTimeStretch;

static class Demo
{
    static void Main()
    {
        Tolvane.Stretch("speech-8000.wav", "speech-1600.wav");   // StretchException on failure
        using (var recorder = new Recorder("take.wav"))          // RecorderException if it does not start
        {
            Console.WriteLine("recording into take.wav; Enter stops it");
            Console.ReadLine();
            // Leaving the using block stops the recording as well.
            Console.WriteLine("take.wav holds " + recorder.Stop() + " s");
        }
    }
}
