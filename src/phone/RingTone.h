#pragma once
// The local ring-back tone: a looping "ring.wav".

namespace corvid {

struct WindowContext;

void PlayRingWave(WindowContext& ctx);  // starts the looping tone at once
void StopRingWave(WindowContext& ctx);  // stops any sound the program plays
void StartRingTone(WindowContext& ctx); // PlayRingWave, only while RingToneOn is true
void StopRingTone(WindowContext& ctx);  // StopRingWave, only while RingToneOn is true

} // namespace corvid
