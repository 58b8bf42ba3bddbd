#pragma once
// What the window knows of the call on one line. The handlers that place calls, end them and react
// to refusals share it: a call end may wait (for its recording to be saved) while other handlers run,
// and each line's record lets every call be ended once and logged once, whatever the other lines do.

#include <QString>
#include <QtGlobal>

namespace corvid {

struct LineCall {
    quint64 id = 0;        // new for every call the window sees on the line; 0 before the first
    QString number;        // the number the Call action dialled; empty for a call placed another way
    bool ended = false;    // the window has ended this call (the agent's or the far end's hang-up)
    bool ending = false;   // that call end is still running (it may wait)
    bool rowTaken = false; // a call end has taken on this call's call-log row
    int refusals = 0;      // refusals of this call the busy and bad-number reaction has seen
    bool incoming = false; // a call that came in and was answered (its row's result says so)
};

} // namespace corvid
