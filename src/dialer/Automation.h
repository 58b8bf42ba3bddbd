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
// notice that never comes. No channel takes more than one request per 500 ms, and no request is
// acted on while an action of an earlier one still runs (a message drop runs until the far end has
// answered its transfer).
//
// Files stay in the datalink folder, in order, until the dialer can act on them: the poll takes
// none while click-to-dial is off, nor while its last hand-over still waits on the clipboard.
// A request never opens a message box: a refusal goes to the status log and the journal, and the
// automation goes on.
//
// Every request taken is accounted for in root/logs/automation.log (AutomationJournal): one line
// with its true outcome, written when that outcome is known.

#include "dialer/AutomationJournal.h"
#include "dialer/AutomationRules.h"

#include <QElapsedTimer>
#include <QObject>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

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

    // A request as the journal names it: the channel it came in on ("datalink", "clipboard", ...)
    // and how the request is shown (a file name, a command, a number).
    struct Source {
        QString channel;
        QString shown;
        quint64 id = 0; // a submitted request's id (submitRequest); 0 for the datalink and the clipboard
    };
    using Done = std::function<void(const QString& outcome)>;
    // The path every channel's request ends in, once the rules have read it: it is acted on (the
    // Call action, the agent's hang-up, the message drop, each as another program's request) and
    // gets its one journal line with its true outcome: at once for an ignored request, a dial or a
    // hang-up, when the far end has answered for a message drop. done, when given, hears that
    // outcome too. Answers false, taking nothing, while an earlier action still runs (isActing());
    // the channel keeps its request and offers it again after actionFinished(). Pacing is the
    // channel's own.
    bool takeRequest(const Source& source, const automation::ClipboardRequest& request, Done done = {});
    bool isActing() const;

    // The dialer closes: no further request is taken, and a hand-over still on the clipboard is
    // journaled as not dialled.
    void stop();

    // Requests of another channel (the HTTP control), once its rules have read them: each is taken
    // in turn, one per 500 ms of that channel and only when no other action runs, through
    // takeRequest. Answers the request's id (never 0), which its journal signal carries.
    // done, when given, hears the request's outcome (at once when it was taken at once).
    quint64 submitRequest(const QString& channel, const automation::ClipboardRequest& request, const QString& shown,
                          Done done = {});
    // Why a request of kind would be refused now whatever its details: "not online", or for a dial
    // "not registered" while the registration is not established. Empty when it may go.
    QString refusalNow(automation::ClipboardRequest::Kind kind) const;
    // Requests of channel submitted but not yet taken.
    int queuedRequests(const QString& channel) const;
    // A request a channel refused before submitting it still gets its journal line.
    void journalRequest(const QString& channel, const QString& shown, const QString& outcome);

Q_SIGNALS:
    // The action of a request is over: a request that found the path busy may be offered again.
    void actionFinished();
    // One journal line was written: id is a submitted request's, 0 for the datalink and the clipboard.
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
    void settleHandOver(const QString& outcome);
    void finishAction(const QString& outcome);
    void onDropSettled(int line, bool accepted, const QString& why);
    QString ignoredOutcome(const automation::ClipboardRequest& request) const;
    QString refusal() const;
    bool isOnline() const;

    WindowContext& ctx;
    AutomationJournal m_journal;
    Channel m_poll;
    Channel m_dispatch;
    QTimer* m_dispatchSoon = nullptr;
    QFileSystemWatcher* m_watcher = nullptr;
    bool m_notices = true;
    bool m_stopped = false;
    bool m_acting = false;        // the action of a taken request is running (it may wait)
    bool m_awaitingDrop = false;  // that action is a message drop waiting for the far end's answer
    Source m_actingOn;            // the request of that action, with whom to tell its outcome
    Done m_actingDone;
    bool m_dispatchAgain = false; // a run was asked for meanwhile
    bool m_hasHandOver = false;
    HandOver m_handOver;
    QString m_lastIgnored;       // the clipboard text last journaled as ignored
    QSet<QString> m_undeletable; // datalink files that could not be deleted: served once, then left
    struct Queued {
        Source source;
        automation::ClipboardRequest request;
        Done done;
    };
    QList<Queued> m_queue; // submitted requests, oldest first
    Channel m_queued;
    quint64 m_lastId = 0;
};

} // namespace corvid
