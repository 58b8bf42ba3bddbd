#include "dialer/Automation.h"

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "calls/Dialing.h"
#include "calls/IncomingCalls.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "calls/LiveCalls.h"
#include "dialer/AutomationRules.h"
#include "dialer/MessageDrop.h"
#include "media/Recording.h"
#include "phone/EngineErrors.h"
#include "ui_MainForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace corvid {

using namespace automation;

namespace {

const QString DatalinkChannel = QStringLiteral("datalink");
const QString ClipboardChannel = QStringLiteral("clipboard");
const QString NotOnline = QStringLiteral("not online");
const QString NotRegistered = QStringLiteral("not registered");

QTimer* oneShot(QObject* owner, int ms, Qt::TimerType type = Qt::PreciseTimer) {
    auto* timer = new QTimer(owner);
    timer->setSingleShot(true);
    timer->setInterval(ms);
    timer->setTimerType(type);
    return timer;
}

} // namespace

bool Automation::Channel::mayTakeNow() const {
    return !lastTaken.isValid() || lastTaken.elapsed() >= TickMs;
}

int Automation::Channel::msUntilFree() const {
    return lastTaken.isValid() ? int(qMax<qint64>(0, TickMs - lastTaken.elapsed())) : 0;
}

Automation::Automation(WindowContext& context, QObject* parent)
    : QObject(parent), ctx(context), m_journal(context.root.logFile(QStringLiteral("automation.log"))) {
    m_poll.later = oneShot(this, TickMs);
    m_dispatch.later = oneShot(this, TickMs);
    m_dispatchSoon = oneShot(this, 0, Qt::CoarseTimer);
    connect(m_poll.later, &QTimer::timeout, this, [this] { pollNow(); });
    connect(m_dispatch.later, &QTimer::timeout, this, [this] { dispatchNow(); });
    connect(m_dispatchSoon, &QTimer::timeout, this, [this] { dispatchNow(); });
    m_queued.later = oneShot(this, TickMs);
    connect(m_queued.later, &QTimer::timeout, this, [this] { queuedNow(); });
    // A submitted request that found another action running goes once that action is over.
    connect(this, &Automation::actionFinished, this, [this] { QTimer::singleShot(0, this, [this] { queuedNow(); }); });

    if (MessageDrop* drop = ctx.subsystems.messageDrop)
        connect(drop, &MessageDrop::dropSettled, this, &Automation::onDropSettled);
    if (ctx.timers.TapiSip) connect(ctx.timers.TapiSip, &QTimer::timeout, this, &Automation::onTapiSipTimeout);
    if (ctx.timers.DialTimer) connect(ctx.timers.DialTimer, &QTimer::timeout, this, &Automation::onDialTimerTimeout);
    setChangeNotices(true);
}

Automation::~Automation() {
    if (ctx.services.clipboard) ctx.services.clipboard->setChangeHandler({});
}

void Automation::setChangeNotices(bool on) {
    m_notices = on;
    delete m_watcher;
    m_watcher = nullptr;
    if (Clipboard* clipboard = ctx.services.clipboard) {
        // The clipboard's notice may come from inside our own setText or clear: the dispatcher
        // runs after the current handler.
        if (on)
            clipboard->setChangeHandler([this] { m_dispatchSoon->start(); });
        else
            clipboard->setChangeHandler({});
    }
    if (!on) return;
    m_watcher = new QFileSystemWatcher(this);
    // The notice arrives from the event loop, never inside a handler of ours: the poll runs at once.
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { pollNow(); });
    watchFolder();
}

// The folder may be missing at start or removed and made again while the program runs: each
// poll watches it again when it is back.
void Automation::watchFolder() {
    if (!m_watcher || !m_watcher->directories().isEmpty()) return;
    const QString folder = ctx.root.datalink();
    if (QFileInfo(folder).isDir()) m_watcher->addPath(folder);
}

void Automation::onTapiSipTimeout() {
    pollNow();
}

void Automation::onDialTimerTimeout() {
    dispatchNow();
}

void Automation::pollNow() {
    if (m_stopped) return;
    watchFolder();
    if (!m_poll.mayTakeNow()) {
        if (!m_poll.later->isActive()) m_poll.later->start(m_poll.msUntilFree());
        return;
    }
    runPoll();
}

bool Automation::isActing() const {
    return m_acting || (ctx.subsystems.messageDrop && ctx.subsystems.messageDrop->isWaiting());
}

void Automation::stop() {
    m_stopped = true;
    settleHandOver(QStringLiteral("not dialled: the dialer closed before it was dialled"));
}

void Automation::dispatchNow() {
    if (m_stopped) return;
    if (isActing()) {
        m_dispatchAgain = true; // looked at again once the running action returns
        return;
    }
    if (!m_dispatch.mayTakeNow()) {
        if (!m_dispatch.later->isActive()) m_dispatch.later->start(m_dispatch.msUntilFree());
        return;
    }
    runDispatcher();
}

void Automation::journal(const QString& channel, const QString& request, const QString& outcome, quint64 id) {
    m_journal.append(ctx.services.clock ? ctx.services.clock->now() : QDateTime::currentDateTime(), channel, request,
                     outcome);
    Q_EMIT requestJournaled(id, channel, request, outcome);
}

void Automation::journalRequest(const QString& channel, const QString& shown, const QString& outcome) {
    journal(channel, shown, outcome);
}

quint64 Automation::submitRequest(const QString& channel, const ClipboardRequest& request, const QString& shown,
                                  Done done) {
    m_queue.append({{channel, shown, ++m_lastId}, request, std::move(done)});
    const quint64 id = m_lastId;
    // A dial never waits, so it is taken at once when the channel is free: the INVITE leaves while
    // the caller is still answering. Hang-ups and drops may wait (the recording's save), and must
    // not wait inside the caller's own request handling: they are taken after it returns.
    if (request.kind == ClipboardRequest::Dial)
        queuedNow();
    else
        QMetaObject::invokeMethod(this, [this] { queuedNow(); }, Qt::QueuedConnection);
    return id;
}

int Automation::queuedRequests(const QString& channel) const {
    return int(std::count_if(m_queue.cbegin(), m_queue.cend(),
                             [&](const Queued& q) { return q.source.channel == channel; }));
}

void Automation::queuedNow() {
    if (m_stopped || m_queue.isEmpty() || isActing()) return; // actionFinished looks again
    if (!m_queued.mayTakeNow()) {
        if (!m_queued.later->isActive()) m_queued.later->start(m_queued.msUntilFree());
        return;
    }
    Queued next = m_queue.takeFirst();
    m_queued.lastTaken.start();
    takeRequest(next.source, next.request, std::move(next.done));
    if (!m_queue.isEmpty()) queuedNow();
}

void Automation::settleHandOver(const QString& outcome) {
    if (!m_hasHandOver) return;
    m_hasHandOver = false;
    journal(DatalinkChannel, m_handOver.request, outcome);
}

bool Automation::runPoll() {
    if (ctx.state.SipTapiMode != QLatin1String("True")) return false;
    // Files stay in the folder until the dialer can act on them: none is taken while click-to-dial
    // is off, nor while the last hand-over still waits on the clipboard for the dispatcher.
    Clipboard* clipboard = ctx.services.clipboard;
    if (!clipboard || !ctx.ui->autoCheck->isChecked()) return false;
    if (m_hasHandOver) {
        if (clipboard->text() == m_handOver.text) return false;
        settleHandOver(QStringLiteral("superseded: the clipboard was replaced before it was dialled"));
    }

    // One pass over the folder keeps the greatest name of each kind; nothing is sorted or kept,
    // so a folder of thousands of files costs one listing per request.
    const QString folder = ctx.root.datalink();
    QString dial, end, rec; // rec: a pause or resume file
    QSet<QString> undeletableSeen;
    QDirIterator it(folder,
                    {QStringLiteral("*") + DialSuffix, QStringLiteral("*") + EndSuffix,
                     QStringLiteral("*") + PauseSuffix, QStringLiteral("*") + ResumeSuffix},
                    QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (m_undeletable.contains(name)) {
            undeletableSeen.insert(name);
            continue;
        }
        QString& best = isEndFileName(name) ? end : isDialFileName(name) ? dial : rec;
        if (best.isEmpty() || datalinkNameGreater(name, best)) best = name;
    }
    m_undeletable = undeletableSeen; // a file that went away may come again and is then served

    if (dial.isEmpty() && end.isEmpty() && rec.isEmpty()) return false;
    m_poll.lastTaken.start();
    // A pause or resume acts on the call that is up, before a dial file places the next one: it
    // is taken alone, and the dial file waits for the next tick.
    if (end.isEmpty() && !rec.isEmpty()) dial.clear();
    const QString request = !end.isEmpty()   ? HangUpWord
                            : !rec.isEmpty() ? recordingCommandForFile(rec)
                                             : dial.trimmed();

    // A file that cannot be deleted would be handed over again on every tick, dialling one
    // number twice a second: it is served this once, then left alone while it stays.
    const auto take = [&](const QString& name) {
        if (name.isEmpty() || QFile::remove(folder + QLatin1Char('/') + name)) return;
        m_undeletable.insert(name);
        journal(DatalinkChannel, name, QStringLiteral("could not be deleted: served once, then left in the folder"));
    };
    take(dial);
    take(end);
    if (end.isEmpty()) take(rec);
    if (!end.isEmpty() && !dial.isEmpty())
        journal(DatalinkChannel, dial,
                QStringLiteral("superseded: an end file was taken with it, so it was not dialled"));

    clipboard->clear();
    clipboard->setText(request);
    m_handOver = {request, !end.isEmpty() ? end : !rec.isEmpty() ? rec : dial};
    m_hasHandOver = true;
    if (m_notices) dispatchNow();
    return true;
}

bool Automation::runDispatcher() {
    Ui::MainForm* ui = ctx.ui;
    if (ui->BtnOnline->text() == QLatin1String("Online")) ui->mouseMenu->setText(NotOnLineCaption);
    if (!ui->autoCheck->isChecked()) return false;
    Clipboard* clipboard = ctx.services.clipboard;
    if (!clipboard) return false;

    const QString text = clipboard->text();
    if (m_hasHandOver && text != m_handOver.text)
        settleHandOver(QStringLiteral("superseded: the clipboard was replaced before it was dialled"));
    if (text.trimmed().isEmpty()) return false;

    const bool fromFile = m_hasHandOver;
    const ClipboardRequest request = parseClipboardRequest(text, leadingNumber(ui->swipeLengthTxT->text()));
    Source source{fromFile ? DatalinkChannel : ClipboardChannel, fromFile ? m_handOver.request : text.trimmed()};
    m_hasHandOver = false;
    if (request.kind == ClipboardRequest::Ignore) {
        // The text stays on the clipboard and is looked at again each tick: a text the agent copied
        // is journaled once, and only its length. A hand-over is journaled each time it comes.
        if (!fromFile && text == m_lastIgnored) return false;
        m_lastIgnored = text;
        if (!fromFile) source.shown = QStringLiteral("(%1 characters, not recorded)").arg(text.trimmed().size());
        takeRequest(source, request);
        return false;
    }

    m_lastIgnored.clear();
    m_dispatch.lastTaken.start();
    if (request.kind == ClipboardRequest::Dial) {
        clipboard->clear();
        takeRequest(source, request);
    } else {
        // A command is cleared once its action is over, unless another request replaced it
        // meanwhile (a datalink hand-over during the message drop's wait): that one is kept.
        takeRequest(source, request, [this, text](const QString&) {
            if (Clipboard* board = ctx.services.clipboard; board && board->text() == text) board->clear();
        });
    }
    return true;
}

bool Automation::takeRequest(const Source& source, const ClipboardRequest& request, Done done) {
    if (isActing()) return false;
    if (request.kind == ClipboardRequest::Ignore) {
        const QString outcome = ignoredOutcome(request);
        // A number cut to ten digits would call a stranger: the agent is told it was not dialled.
        if (request.tooManyDigits && ctx.subsystems.lines) ctx.subsystems.lines->AddStatusLog(outcome);
        journal(source.channel, source.shown, outcome, source.id);
        if (done) done(outcome);
        return true;
    }

    Ui::MainForm* ui = ctx.ui;
    m_acting = true;
    m_actingOn = source;
    m_actingDone = std::move(done);
    const int line = ui->ComboDial->currentIndex();
    QPointer<Automation> alive(this);
    switch (request.kind) {
    case ClipboardRequest::Dial: {
        // A PBX that does not answer would take the INVITE only to let it time out: the request
        // is refused at once, and the agent sees why.
        if (isOnline() && !ctx.state.Registered) {
            if (LineStatus* lines = ctx.subsystems.lines)
                lines->AddStatusLog(lineStatusLogLine(
                    line, QStringLiteral(": Not dialled - %1: %2").arg(request.number, NotRegistered)));
            finishAction(QStringLiteral("not dialled: ") + NotRegistered);
            break;
        }
        if (ctx.window && ctx.window->isMinimized()) ctx.window->showNormal();
        ui->EditPhoneNo->setText(request.number);
        const bool placed = ctx.subsystems.dialing && ctx.subsystems.dialing->placeCall(Asker::Program);
        if (!alive) return true;
        finishAction(placed ? QStringLiteral("dialled %1 on %2").arg(request.number, lineLabel(line))
                            : QStringLiteral("not dialled: %1").arg(refusal()));
        break;
    }
    case ClipboardRequest::HangUp:
        // The only refusal of the agent's hang-up is a line that is not open: said here, not in a box.
        if (!ctx.engine || !ctx.engine->IsLineOpen(line)) {
            const QString why = ui->BtnOnline->text() != QLatin1String("Offline")
                                    ? QStringLiteral("not online")
                                    : engineErrorMessage(EngineError::LineNotOpen);
            if (LineStatus* lines = ctx.subsystems.lines)
                lines->AddStatusLog(lineStatusLogLine(line, QStringLiteral(": Not hung up: ") + why));
            finishAction(QStringLiteral("not hung up: ") + why);
            break;
        }
        {
            // With no call on the line the hang-up says so in the status log and writes no row.
            const bool hadCall = !ctx.subsystems.lines || ctx.subsystems.lines->hasCall(line);
            if (LiveCalls* live = ctx.subsystems.liveCalls) live->noteEndedBy(line, endedby::Automation);
            if (ctx.subsystems.callEnd) ctx.subsystems.callEnd->onBtnHangUpClicked();
            if (!alive) return true;
            finishAction(hadCall ? QStringLiteral("hung up (%1)").arg(lineLabel(line))
                                 : QStringLiteral("not hung up: no call to end (%1)").arg(lineLabel(line)));
        }
        break;
    case ClipboardRequest::MessageDrop:
        // Sent, the drop's outcome arrives with dropSettled.
        m_awaitingDrop = ctx.subsystems.messageDrop && ctx.subsystems.messageDrop->drop(Asker::Program);
        if (!m_awaitingDrop) finishAction(QStringLiteral("message drop refused: %1").arg(refusal()));
        break;
    case ClipboardRequest::Answer:
    case ClipboardRequest::Reject: {
        IncomingCalls* incoming = ctx.subsystems.incoming;
        const bool answer = request.kind == ClipboardRequest::Answer;
        finishAction(!incoming ? QStringLiteral("ignored: no incoming calls here")
                     : answer  ? incoming->answer(Asker::Program)
                               : incoming->reject(Asker::Program));
        break;
    }
    case ClipboardRequest::PauseRecording:
    case ClipboardRequest::ResumeRecording: {
        bool acted = false;
        const bool pause = request.kind == ClipboardRequest::PauseRecording;
        const QString outcome = ctx.subsystems.recording ? ctx.subsystems.recording->pauseRecording(pause, &acted)
                                                         : QStringLiteral("refused: no recording");
        // A refusal is said where the agent looks, never in a box.
        if (!acted && outcome.startsWith(QLatin1String("refused")))
            ui->ListStatusLog->addItem(
                lineLabel(line) +
                (pause ? QStringLiteral(": Recording not paused: ") : QStringLiteral(": Recording not resumed: ")) +
                outcome.mid(qsizetype(qstrlen("refused: "))));
        finishAction(outcome);
        break;
    }
    case ClipboardRequest::Ignore:
        break;
    }
    return true;
}

void Automation::onDropSettled(int line, bool accepted, const QString& why) {
    if (m_acting && m_awaitingDrop) {
        finishAction(accepted ? QStringLiteral("message drop on %1").arg(lineLabel(line))
                              : QStringLiteral("message drop failed: ") + why);
    } else if (!isActing()) {
        // The agent's own drop is over: the requests that waited for it may go.
        if (m_dispatchAgain) {
            m_dispatchAgain = false;
            m_dispatchSoon->start();
        }
        QTimer::singleShot(0, this, [this] { queuedNow(); });
    }
}

void Automation::finishAction(const QString& outcome) {
    const Source source = m_actingOn;
    const Done done = std::move(m_actingDone);
    m_actingDone = {};
    // The line a message drop handed over is free a moment after the far end's answer: the next
    // request waits the channel's 500 ms from that answer.
    if (m_awaitingDrop) m_dispatch.lastTaken.start();
    m_acting = m_awaitingDrop = false;
    journal(source.channel, source.shown, outcome, source.id);
    if (done) done(outcome);
    Q_EMIT actionFinished();
    if (m_dispatchAgain && !isActing()) {
        m_dispatchAgain = false;
        m_dispatchSoon->start();
    }
}

QString Automation::ignoredOutcome(const ClipboardRequest& request) const {
    if (request.tooLong)
        return QStringLiteral("ignored: longer than the swipe length of %1 characters")
            .arg(leadingNumber(ctx.ui->swipeLengthTxT->text()));
    return request.tooManyDigits ? TooManyDigitsOutcome : QStringLiteral("ignored: not a ten-digit number");
}

bool Automation::isOnline() const {
    return ctx.ui->BtnOnline->text() == QLatin1String("Offline"); // the button offers to go offline only when online
}

QString Automation::refusalNow(ClipboardRequest::Kind kind) const {
    if (!isOnline()) return NotOnline;
    if (kind == ClipboardRequest::Dial && !ctx.state.Registered) return NotRegistered;
    return {};
}

// Why the engine refused the last operation, in the words the agent saw.
QString Automation::refusal() const {
    if (!isOnline()) return NotOnline;
    return engineRefusal(ctx);
}

} // namespace corvid
