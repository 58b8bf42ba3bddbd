#pragma once
// The crash-safe records of the calls that are up (calls/LiveCallRules.h has the format), and
// what the next start does with the records a killed dialer left behind.
//
// A call's record is written when the call is placed and brought up to date by a one-second tick
// while any call is up: the seconds so far and the engine's files of its unsaved recording. It
// goes when the call's end is over (its row written), or when the engine's line is free again
// with no call end running (a call that failed without an end).
//
// At start-up, before the window goes online (going online lets the engine empty its recording
// folder), every record left is an interrupted call: its row goes to the call log with the
// result "dialer stopped", its recording parts are joined into messages/ under the name its call
// end would have given it, and the automation journal gets one line saying what was recovered.

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimer>

#include "calls/LiveCallRules.h"

namespace corvid {

struct WindowContext;

class LiveCalls : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 1000;
    static constexpr int SyncEveryMs = 15000;

    explicit LiveCalls(WindowContext& ctx, QObject* parent = nullptr);

    // root/bin/calls
    QString folder() const;

    // A new call on line (callId from the line's LineCall); number may be empty for a call the
    // window did not place (the number field's text is taken then).
    void callPlaced(int line, quint64 callId, const QString& number);
    // The end of that call is over: its call-detail record is written and its live record goes
    // (a later call of the line keeps its own).
    void callEnded(int line, quint64 callId);

    // What the call end of the line's live call tells its call-detail record: who ended it (the
    // first to say wins), the CSV row written (its result and seconds), the recording saved.
    void noteEndedBy(int line, const QString& who);
    void noteRow(int line, const QString& result, const QString& seconds);
    void noteRecording(int line, const QString& path);
    // The recording of the line's live call was paused (true) or goes on (false), now.
    void notePaused(int line, bool paused);
    // The paused stretches of the line's live call so far (the last one open while it lasts).
    QList<PausedInterval> pausedIntervals(int line) const;

    // Start-up: recovers every record in the folder. Answers how many calls were recovered.
    int recoverInterrupted();

private:
    struct Live {
        quint64 callId = 0;
        LiveCallRecord record;
        QElapsedTimer clock;
        QByteArray written; // the text last written
        QByteArray steady;  // ... without what every tick changes (the time, the figures), as last synced
        QElapsedTimer synced;
        QString endedBy;
        bool hasRow = false;
        QString result;
        QString rowSeconds;
        QString recording;
    };
    void onTick();
    void writeDetail(Live& live);
    void save(Live& live);
    void drop(int line);
    bool recover(const QString& path);

    WindowContext& ctx;
    QMap<int, Live> m_live;
    QTimer m_tick;
};

} // namespace corvid
