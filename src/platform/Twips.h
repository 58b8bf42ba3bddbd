#pragma once
// Window measures are given in twips: 1440 to the inch, 15 to a logical pixel at 96 DPI.
// Qt scales logical pixels for high-DPI screens.

namespace corvid {

constexpr int kTwipsPerPixel = 15;

// Rounds to the nearest pixel, halves away from zero (1000 twips -> 67 px).
constexpr int twipsToPixels(int twips) {
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}

constexpr int pixelsToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

static_assert(twipsToPixels(1000) == 67, "the message-box top position");
static_assert(twipsToPixels(15) == 1 && twipsToPixels(7) == 0 && twipsToPixels(8) == 1, "rounding");
static_assert(twipsToPixels(-1000) == -67, "negative positions mirror positive ones");

} // namespace corvid
