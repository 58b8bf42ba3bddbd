#!/usr/bin/env python3
"""Writes the dialer's ring-back tone: 440 Hz + 480 Hz, 2 s on, 4 s off, 8 kHz mono 16-bit PCM.

The file is generated here (not downloaded) and committed as assets/ring.wav; the dialer loops it.
Usage: scripts/gen-ring-tone.py [output.wav]
"""
import math
import struct
import sys
import wave

RATE = 8000
out = sys.argv[1] if len(sys.argv) > 1 else "assets/ring.wav"
frames = bytearray()
for n in range(RATE * 6):
    t = n / RATE
    if t < 2.0:
        # 20 ms fade in and out so the loop does not click
        env = min(1.0, t / 0.02, (2.0 - t) / 0.02)
        v = 0.35 * env * (math.sin(2 * math.pi * 440 * t) + math.sin(2 * math.pi * 480 * t))
    else:
        v = 0.0
    frames += struct.pack("<h", int(max(-1.0, min(1.0, v)) * 32767))
with wave.open(out, "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(2)
    w.setframerate(RATE)
    w.writeframes(bytes(frames))
