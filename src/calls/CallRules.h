#pragma once
// Small rules of the call handlers that need no window.

#include <QString>

namespace corvid {

// The call-seconds tick: the leading whole number of text (blanks before it and a sign allowed;
// empty or non-numeric text counts as 0), plus one, as decimal text without a fraction.
// "abc" gives "1", "41" gives "42", "7 sec" gives "8". A count too large to hold stays where it is.
QString nextCallSeconds(const QString& text);

// A volume slider's position from the engine's volume (0..255): volume / 25 rounded to the
// nearest whole number, halves to even.
int sliderFromEngineVolume(int volume);

} // namespace corvid
