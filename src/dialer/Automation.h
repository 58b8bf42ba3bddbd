#pragma once
// The dial automation: other programs place and end calls through the datalink folder and the
// clipboard.
//
// The datalink poll (TapiSip) takes one request per tick while UseSipTapi is "True": the greatest
// dial file name, or "#hangup" when an end file is there (the end file wins; the dial file taken
// with it is deleted unseen), deletes what it took and hands the request over on the clipboard.
// The clipboard dispatcher (DialTimer) acts on the clipboard while click-to-dial is on: a pipe
// record is cut to its command, "*END*" and "#hangup" hang up, "#pam" drops the message, and a text
// of at most swipeLengthTxT characters holding a ten-digit number dials it with the Call action.
//
// Beyond the ticks, each channel also runs at once when its source changes (the folder's change
// notice, the clipboard's change notice, the poll's hand-over), provided it took no request in the
// last 500 ms; otherwise it runs when those 500 ms are up. The ticks stay as the fallback for a
// notice that never comes. No channel takes more than one request per 500 ms, and a dispatcher run
// never starts while an action of an earlier one still waits.
//
// Every request taken is accounted for in root/logs/automation.log (AutomationJournal).

#include "dialer/AutomationJournal.h"
#include "dialer/AutomationRules.h"

#include <QElapsedTimer>
#include <QObject>
#include <QList>
#include <QSet>
#include <QString>

class QFileSystemWatcher;
class QTimer;

namespace corvid {

struct WindowContext;

class Automation : public QObject {
    Q_OBJECT
public:
    explicit Automation(WindowContext& ctx, QObject* parent = nullptr);
    ~Automation() override;

    // The timers' handlers.
    void onTapiSipTimeout();
    void onDialTimerTimeout();

    // The change notices of the folder and the clipboard (on by default). Off, requests wait for
    // the ticks as they did before notices existed.
    void setChangeNotices(bool on);
    bool changeNotices() const { return m_notices; }

    AutomationJournal& journal() { return m_journal; }

    // Requests of another channel (the HTTP control): each is taken in turn, one per 500 ms of
    // that channel and never while another action still waits, acted on like the clipboard's
    // requests, and journaled under channel. Answers the request's id (never 0).
    quint64 submitRequest(const QString& channel, automation::ClipboardRequest::Kind kind, const QString& number,
                          const QString& shown);
    // Requests of channel taken but not yet acted on.
    int queuedRequests(const QString& channel) const;
    // A request a channel refused before it reached the queue still gets its journal line.
    void journalRequest(const QString& channel, const QString& request, const QString& outcome);

Q_SIGNALS:
    // One journal line was written: id is the submitted request's, 0 for the datalink and the clipboard.
    void requestJournaled(quint64 id, const QString& channel, const QString& request, const QString& outcome);

private:
    struct Channel {
        QElapsedTimer lastTaken; // invalid until the first request
        QTimer* later = nullptr; // runs the channel when its 500 ms are up
        bool mayTakeNow() const;
        int msUntilFree() const;
    };
    // A request the poll put on the clipboard that the dispatcher has not yet accounted for.
    struct HandOver {
        QString text;    // what was put on the clipboard
        QString request; // the file (or files) it came from
    };

    void pollNow();
    void dispatchNow();
    bool runPoll();
    bool runDispatcher();
    void watchFolder();
    void journal(const QString& channel, const QString& request, const QString& outcome, quint64 id = 0);
    void queuedNow();
    bool runQueued();
    QString act(automation::ClipboardRequest::Kind kind, const QString& number, int line, bool& ok);
    void settleHandOver(const QString& outcome);
    QString refusal() const;

    WindowContext& ctx;
    AutomationJournal m_journal;
    Channel m_poll;
    Channel m_dispatch;
    QTimer* m_dispatchSoon = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    bool m_notices = true;
    bool m_dispatching = false;   // an action of the dispatcher is running (it may wait)
    bool m_dispatchAgain = false; // a run was asked for meanwhile
    bool m_hasHandOver = false;
    HandOver m_handOver;
    QString m_lastIgnored;       // the clipboard text last journaled as ignored
    QSet<QString> m_undeletable; // datalink files that could not be deleted: served once, then left
    struct Queued {
        quint64 id;
        QString channel;
        automation::ClipboardRequest::Kind kind;
        QString number;
        QString shown;
    };
    QList<Queued> m_queue; // submitted requests, oldest first
    Channel m_queued;
    quint64 m_lastId = 0;
};

} // namespace corvid
