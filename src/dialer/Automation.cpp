#include "dialer/Automation.h"

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "calls/Dialing.h"
#include "calls/LineRules.h"
#include "dialer/AutomationRules.h"
#include "dialer/MessageDrop.h"
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
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace corvid {

using namespace automation;

namespace {

const QString DatalinkChannel = QStringLiteral("datalink");
const QString ClipboardChannel = QStringLiteral("clipboard");

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
    m_queued.later = oneShot(this, TickMs);
    connect(m_queued.later, &QTimer::timeout, this, [this] { queuedNow(); });
    connect(m_poll.later, &QTimer::timeout, this, [this] { pollNow(); });
    connect(m_dispatch.later, &QTimer::timeout, this, [this] { dispatchNow(); });
    connect(m_dispatchSoon, &QTimer::timeout, this, [this] { dispatchNow(); });

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
    watchFolder();
    if (!m_poll.mayTakeNow()) {
        if (!m_poll.later->isActive()) m_poll.later->start(m_poll.msUntilFree());
        return;
    }
    runPoll();
}

void Automation::dispatchNow() {
    if (m_dispatching) {
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
    emit requestJournaled(id, channel, request, outcome);
}

void Automation::journalRequest(const QString& channel, const QString& request, const QString& outcome) {
    journal(channel, request, outcome);
}

quint64 Automation::submitRequest(const QString& channel, ClipboardRequest::Kind kind, const QString& number,
                                  const QString& shown) {
    m_queue.append({++m_lastId, channel, kind, number, shown});
    // Taken from the event loop: the caller answers its own client first.
    QTimer::singleShot(0, this, [this] { queuedNow(); });
    return m_lastId;
}

int Automation::queuedRequests(const QString& channel) const {
    return int(std::count_if(m_queue.cbegin(), m_queue.cend(), [&](const Queued& q) { return q.channel == channel; }));
}

void Automation::queuedNow() {
    if (m_queue.isEmpty()) return;
    if (m_dispatching) {
        m_dispatchAgain = true; // the running action's end looks at the queue again
        return;
    }
    if (!m_queued.mayTakeNow()) {
        if (!m_queued.later->isActive()) m_queued.later->start(m_queued.msUntilFree());
        return;
    }
    runQueued();
}

bool Automation::runQueued() {
    if (m_queue.isEmpty()) return false;
    const Queued request = m_queue.takeFirst();
    m_queued.lastTaken.start();
    const int line = ctx.ui->ComboDial->currentIndex();
    QPointer<Automation> alive(this);
    m_dispatching = true;
    bool ok = false;
    const QString outcome = act(request.kind, request.number, line, ok);
    if (!alive) return true;
    m_dispatching = false;
    journal(request.channel, request.shown, outcome, request.id);
    if (!m_queue.isEmpty()) queuedNow();
    if (m_dispatchAgain) {
        m_dispatchAgain = false;
        m_dispatchSoon->start();
    }
    return true;
}

// What a taken request does, and its outcome in the journal's words.
QString Automation::act(ClipboardRequest::Kind kind, const QString& number, int line, bool& ok) {
    Ui::MainForm* ui = ctx.ui;
    QPointer<Automation> alive(this);
    if (kind == ClipboardRequest::Dial) {
        if (ctx.window && ctx.window->isMinimized()) ctx.window->showNormal();
        ui->EditPhoneNo->setText(number);
        ok = ctx.subsystems.dialing && ctx.subsystems.dialing->onBtnDialClicked();
        if (!alive) return {};
        return ok ? QStringLiteral("dialled %1 on %2").arg(number, lineLabel(line))
                  : QStringLiteral("not dialled: %1").arg(refusal());
    }
    if (kind == ClipboardRequest::HangUp) {
        if (ctx.subsystems.callEnd) ctx.subsystems.callEnd->onBtnHangUpClicked();
        ok = true;
        return QStringLiteral("hung up (%1)").arg(lineLabel(line));
    }
    ok = ctx.subsystems.messageDrop && ctx.subsystems.messageDrop->onPlayMsgPushClicked();
    if (!alive) return {};
    return ok ? QStringLiteral("message drop on %1").arg(lineLabel(ui->ComboTransferCall->currentIndex()))
              : QStringLiteral("message drop refused: %1").arg(refusal());
}

void Automation::settleHandOver(const QString& outcome) {
    if (!m_hasHandOver) return;
    m_hasHandOver = false;
    journal(DatalinkChannel, m_handOver.request, outcome);
}

bool Automation::runPoll() {
    if (ctx.state.SipTapiMode != QLatin1String("True")) return false;

    // One pass over the folder keeps the greatest name of each kind; nothing is sorted or kept,
    // so a folder of thousands of files costs one listing per request.
    const QString folder = ctx.root.datalink();
    QString dial, end;
    QSet<QString> undeletableSeen;
    QDirIterator it(folder, {QStringLiteral("*") + DialSuffix, QStringLiteral("*") + EndSuffix},
                    QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (m_undeletable.contains(name)) {
            undeletableSeen.insert(name);
            continue;
        }
        QString& best = isEndFileName(name) ? end : dial;
        if (best.isEmpty() || datalinkNameGreater(name, best)) best = name;
    }
    m_undeletable = undeletableSeen; // a file that went away may come again and is then served

    if (dial.isEmpty() && end.isEmpty()) return false;
    m_poll.lastTaken.start();
    const QString request = end.isEmpty() ? dial.trimmed() : HangUpWord;

    // A file that cannot be deleted would be handed over again on every tick, dialling one
    // number twice a second: it is served this once, then left alone while it stays.
    const auto take = [&](const QString& name) {
        if (name.isEmpty() || QFile::remove(folder + QLatin1Char('/') + name)) return;
        m_undeletable.insert(name);
        journal(DatalinkChannel, name, QStringLiteral("could not be deleted: served once, then left in the folder"));
    };
    take(dial);
    take(end);
    if (!end.isEmpty() && !dial.isEmpty())
        journal(DatalinkChannel, dial,
                QStringLiteral("superseded: an end file was taken with it, so it was not dialled"));

    Clipboard* clipboard = ctx.services.clipboard;
    if (!clipboard) return true;
    if (m_hasHandOver)
        settleHandOver(clipboard->text() == m_handOver.text
                           ? QStringLiteral("superseded: the next datalink request overwrote it before it was dialled")
                           : QStringLiteral("superseded: the clipboard was replaced before it was dialled"));
    clipboard->clear();
    clipboard->setText(request);
    m_handOver = {request, end.isEmpty() ? dial : end};
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
    const QString channel = fromFile ? DatalinkChannel : ClipboardChannel;
    const ClipboardRequest request = parseClipboardRequest(text, leadingNumber(ui->swipeLengthTxT->text()));
    if (request.kind == ClipboardRequest::Ignore) {
        // The text stays on the clipboard and is looked at again each tick: journaled once. Other
        // texts the agent copies are not recorded, only their length.
        if (text != m_lastIgnored) {
            m_lastIgnored = text;
            const QString shown = fromFile ? m_handOver.request
                                           : QStringLiteral("(%1 characters, not recorded)").arg(text.trimmed().size());
            journal(channel, shown,
                    request.tooLong ? QStringLiteral("ignored: longer than the swipe length of %1 characters")
                                          .arg(leadingNumber(ui->swipeLengthTxT->text()))
                                    : QStringLiteral("ignored: not a ten-digit number"));
            m_hasHandOver = false;
        }
        return false;
    }

    m_lastIgnored.clear();
    const QString shown = fromFile ? m_handOver.request : text.trimmed();
    m_hasHandOver = false;
    m_dispatch.lastTaken.start();
    const int line = ui->ComboDial->currentIndex();
    QPointer<Automation> alive(this);
    m_dispatching = true;
    QString outcome;
    if (request.kind == ClipboardRequest::Dial) {
        if (ctx.window && ctx.window->isMinimized()) ctx.window->showNormal();
        clipboard->clear();
        ui->EditPhoneNo->setText(request.number);
        const bool placed = ctx.subsystems.dialing && ctx.subsystems.dialing->onBtnDialClicked();
        if (!alive) return true;
        outcome = placed ? QStringLiteral("dialled %1 on %2").arg(request.number, lineLabel(line))
                         : QStringLiteral("not dialled: %1").arg(refusal());
    } else {
        bool done = true;
        if (request.kind == ClipboardRequest::HangUp) {
            if (ctx.subsystems.callEnd) ctx.subsystems.callEnd->onBtnHangUpClicked();
        } else {
            done = ctx.subsystems.messageDrop && ctx.subsystems.messageDrop->onPlayMsgPushClicked();
        }
        if (!alive) return true;
        // The command is cleared once its action returns, unless another request replaced it
        // meanwhile (a datalink hand-over during the message drop's wait): that one is kept.
        if (clipboard->text() == text) clipboard->clear();
        if (request.kind == ClipboardRequest::HangUp)
            outcome = QStringLiteral("hung up (%1)").arg(lineLabel(line));
        else
            outcome = done ? QStringLiteral("message drop on %1").arg(lineLabel(ui->ComboTransferCall->currentIndex()))
                           : QStringLiteral("message drop refused: %1").arg(refusal());
    }
    m_dispatching = false;
    journal(channel, shown, outcome);
    if (!m_queue.isEmpty()) queuedNow();
    if (m_dispatchAgain) {
        m_dispatchAgain = false;
        m_dispatchSoon->start();
    }
    return true;
}

// Why the engine refused the last operation, in the words the agent saw.
QString Automation::refusal() const {
    if (ctx.ui->BtnOnline->text() != QLatin1String("Offline")) // the button offers to go offline only when online
        return QStringLiteral("not online");
    if (!ctx.engine) return QStringLiteral("no engine");
    const int code = ctx.engine->LastErrorCode();
    const QString message = engineErrorMessage(code);
    return message.isEmpty() ? QStringLiteral("engine error %1").arg(code) : message;
}

} // namespace corvid
