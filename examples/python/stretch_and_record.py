"""Converts speech-8000.wav into speech-1600.wav, then records the default
audio input into take.wav until Enter is pressed."""
import tolvane

tolvane.stretch("speech-8000.wav", "speech-1600.wav")  # tolvane.StretchError on failure

with tolvane.Recorder("take.wav") as take:  # tolvane.RecorderError if it does not start
    input("recording into take.wav; Enter stops it\n")
print("take.wav holds", take.seconds, "s")  # what take.stop() returned
