#pragma once
// The rules of pausing a call's recording (for card payments), free of the window.

#include <QString>

namespace corvid::pause {

// What the line is doing, as the pause and resume requests look at it.
struct LineState {
    bool callUp = false;    // a call is up on the line
    bool recording = false; // its recording runs
    bool paused = false;    // its recording is paused
};

enum class Verdict { Act, AlreadyDone, Refused };
struct Answer {
    Verdict verdict = Verdict::Refused;
    QString text; // the outcome as the journal and the status log say it
};

// A pause (pause = true) or resume request on line (0-based) in state.
Answer decide(bool pause, int line, const LineState& state);

// The seconds after which a paused recording resumes by itself, from the setting's text: a whole
// number of seconds above 0; anything else (empty, 0, negative, not a number) is off (0).
int maxPauseSeconds(const QString& setting);

} // namespace corvid::pause
