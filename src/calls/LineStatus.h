#pragma once
// The window's picture of the engine's lines: the eight line choice lists, the line status table
// refreshed every second, the status log with its mirror field, the call-seconds counter and the
// reaction to a call refused as busy or as a bad number.
//
// It also keeps a small call bookkeeping that the call handlers share: a generation number that
// changes whenever the window places or ends a call, so that a handler resuming after a wait can
// tell whether the call it was about is still the window's call.

#include <QObject>
#include <QSet>
#include <QString>

namespace corvid {

struct WindowContext;

class LineStatus : public QObject {
    Q_OBJECT
public:
    explicit LineStatus(WindowContext& ctx, QObject* parent = nullptr);

    // Appends one line to the status log, scrolls it into view and mirrors it (trimmed, first 50
    // characters) into LineStatTxT, whose change runs the busy and bad-number reaction.
    void AddStatusLog(const QString& text);
    // Rebuilds the eight line choice lists for LineCount lines.
    void FillLineLists();

    // Call bookkeeping. The Call action notes the calls it places, the two call ends the calls they
    // end, and the call-progress events any sign of a call on a line (whoever placed it).
    void noteCallPlaced(int line);
    void noteCallEnded(int line);
    void noteLineActivity(int line);
    // Changes whenever the window places or ends a call.
    int callGeneration() const { return m_callGeneration; }
    // True when the window has ended the call of this line and no call has shown up on it since.
    bool isEndedLine(int line) const { return m_endedLines.contains(line); }

    // Handlers.
    void onTimerTickTimeout();                      // line status refresh
    void onCallTimerTimeout();                      // call seconds tick
    void onLineStatTxTChanged(const QString& text); // busy and bad-number reaction

private:
    WindowContext& ctx;
    int m_callGeneration = 0;
    QSet<int> m_endedLines;
    int m_pendingFailureHangUps = 0;
};

} // namespace corvid
