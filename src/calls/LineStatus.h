#pragma once
// The window's picture of the engine's lines: the eight line choice lists, the line status table
// refreshed every second, the status log with its mirror field, the call-seconds counter and the
// reaction to a call refused as busy or as a bad number.
//
// It also keeps the window's record of the call on each line (LineCall), which the handlers that
// place and end calls share.

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "calls/LineCall.h"

namespace corvid {

struct WindowContext;

class LineStatus : public QObject {
    Q_OBJECT
public:
    explicit LineStatus(WindowContext& ctx, QObject* parent = nullptr);

    // Appends one line to the status log, scrolls it into view and mirrors it (trimmed, first 50
    // characters) into LineStatTxT, whose change runs the busy and bad-number reaction.
    void AddStatusLog(const QString& text);
    // Lines that stay in the status log whatever clears it (a setting that stops going online, a
    // site file that cannot be read, a server that is not verified): after each clearing they are
    // the log's first lines again. Replaces the earlier ones; shown at once when missing.
    void setLastingLines(const QStringList& lines);
    // LineSecurity: the connection's security and that of the calls that are up (refreshed with
    // the line status table).
    void showSecurity();
    // Rebuilds the eight line choice lists for LineCount lines.
    void FillLineLists();

    // The call of each line. The Call action notes the calls it places; the call-progress events
    // note any sign of a call (whoever placed it), which on a line whose call has ended is a new call.
    void noteCallPlaced(int line, const QString& number);
    // An incoming call from number answered on line: the line's new call, like a placed one.
    void noteCallAnswered(int line, const QString& number);
    void noteLineActivity(int line);
    // The record of the line's current (or last) call; an empty record for a line never used.
    LineCall& lineCall(int line);
    // Whether the line has a call to end: one the window has seen and not yet ended (a refused call
    // included, whose row is still due), or one the engine holds.
    bool hasCall(int line);
    // True while a call end (of any line) runs; callEndsFinished() follows the last one.
    bool anyCallEnding() const { return m_callEndsRunning > 0; }

    // Handlers.
    void onTimerTickTimeout();                      // line status refresh
    void onCallTimerTimeout();                      // call seconds tick
    void onLineStatTxTChanged(const QString& text); // busy and bad-number reaction

Q_SIGNALS:
    // The last running call end is over (its row written).
    void callEndsFinished();

private:
    friend class CallEndScope;
    void newCall(int line, const QString& number);
    void restoreLastingLines();

    WindowContext& ctx;
    QMap<int, LineCall> m_calls;
    QStringList m_lasting;
    quint64 m_lastCallId = 0;
    int m_callEndsRunning = 0;
};

// A call end of one line's call, from the moment the window ends it until its row is written: the
// call is marked ended and its end running for the lifetime of the scope.
class CallEndScope {
public:
    CallEndScope(LineStatus* lines, int line);
    ~CallEndScope();
    CallEndScope(const CallEndScope&) = delete;
    CallEndScope& operator=(const CallEndScope&) = delete;

    // Whether this end takes on the call's row (no earlier end of the same call has).
    bool rowDue() const { return m_rowDue; }
    // The number the Call action dialled for the call; empty when it did not place it.
    QString placedNumber() const { return m_placedNumber; }
    // Whether the call came in (answered) rather than being placed.
    bool incoming() const { return m_incoming; }

private:
    QPointer<LineStatus> m_lines;
    int m_line;
    quint64 m_call = 0;
    bool m_rowDue = true;
    QString m_placedNumber;
    bool m_incoming = false;
};

} // namespace corvid
