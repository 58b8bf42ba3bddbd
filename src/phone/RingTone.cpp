#include "phone/RingTone.h"

#include "window/WindowContext.h"

namespace corvid {

void PlayRingWave(WindowContext& ctx) {
    if (ctx.services.ring) ctx.services.ring->startLoop(QStringLiteral("ring.wav"));
}

void StopRingWave(WindowContext& ctx) {
    if (ctx.services.ring) ctx.services.ring->stop();
}

void StartRingTone(WindowContext& ctx) {
    if (ctx.state.RingToneOn) PlayRingWave(ctx);
}

void StopRingTone(WindowContext& ctx) {
    if (ctx.state.RingToneOn) StopRingWave(ctx);
}

} // namespace corvid
