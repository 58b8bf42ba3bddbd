#include "calls/LineStatus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "calls/CallRules.h"
#include "calls/LineRules.h"
#include "calls/LiveCalls.h"
#include "platform/Delay.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {

constexpr int FailureHangUpDelayMs = 2000;
constexpr int StatusColumn = 1; // of the line status table: "#", "Status"

} // namespace

LineStatus::LineStatus(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    connect(ctx.timers.TimerTick, &QTimer::timeout, this, &LineStatus::onTimerTickTimeout);
    // Every clearing of the log (the agent's Clear, a call's end, registering) empties its model.
    connect(ctx.ui->ListStatusLog->model(), &QAbstractItemModel::modelReset, this, &LineStatus::restoreLastingLines);
    showSecurity(); // "Connection: offline" until going online says more
    connect(ctx.timers.CallTimer, &QTimer::timeout, this, &LineStatus::onCallTimerTimeout);
    connect(ctx.ui->LineStatTxT, &QLineEdit::textChanged, this, &LineStatus::onLineStatTxTChanged);
}

void LineStatus::AddStatusLog(const QString& text) {
    QListWidget* log = ctx.ui->ListStatusLog;
    log->addItem(text);
    log->scrollToItem(log->item(log->count() - 1), QAbstractItemView::PositionAtTop);

    // The mirror is emptied first so that the same line twice in a row still raises its change.
    ctx.ui->LineStatTxT->setText(QString());
    ctx.ui->LineStatTxT->setText(statusMirrorText(text));
}

void LineStatus::setLastingLines(const QStringList& lines) {
    m_lasting = lines;
    restoreLastingLines();
}

void LineStatus::restoreLastingLines() {
    QListWidget* log = ctx.ui->ListStatusLog;
    for (const QString& line : m_lasting)
        if (log->findItems(line, Qt::MatchExactly).isEmpty()) log->addItem(line);
}

void LineStatus::showSecurity() {
    QList<int> busy, clear;
    if (SipEngine* engine = ctx.engine) {
        for (int n = 0; n < ctx.state.LineCount; ++n) {
            if (!engine->IsLineBusy(n)) continue;
            busy << n;
            if (!engine->IsLineEncrypted(n)) clear << n;
        }
    }
    QString text = QStringLiteral("Connection: ") + ctx.state.connectionSecurity;
    if (!busy.isEmpty()) text += QStringLiteral("; call: ") + callSecurityText(busy, clear);
    ctx.state.securityText = text;
    ctx.ui->LineSecurity->setText(text);
}

void LineStatus::FillLineLists() {
    QComboBox* const lists[] = {ctx.ui->ComboDial,         ctx.ui->ComboRecord,       ctx.ui->ComboPlayWave,
                                ctx.ui->ComboIncomingCall, ctx.ui->ComboTransferCall, ctx.ui->ComboConsultLineA,
                                ctx.ui->ComboConsultLineB, ctx.ui->ComboMuteLine};
    for (QComboBox* list : lists)
        list->clear();
    for (int n = 0; n < ctx.state.LineCount; ++n) {
        const QString label = lineLabel(n);
        for (QComboBox* list : lists)
            list->addItem(label);
    }
    for (QComboBox* list : {ctx.ui->ComboDial, ctx.ui->ComboRecord, ctx.ui->ComboPlayWave, ctx.ui->ComboIncomingCall,
                            ctx.ui->ComboTransferCall, ctx.ui->ComboMuteLine, ctx.ui->ComboConsultLineA})
        list->setCurrentIndex(LineListStartIndex);
    // The two consultation lists start on different lines.
    ctx.ui->ComboConsultLineB->setCurrentIndex(ConsultLineBStartIndex);
}

void LineStatus::newCall(int line, const QString& number) {
    LineCall call;
    call.id = ++m_lastCallId;
    call.number = number;
    m_calls[line] = call;
    if (LiveCalls* live = ctx.subsystems.liveCalls) live->callPlaced(line, call.id, number);
}

void LineStatus::noteCallPlaced(int line, const QString& number) {
    newCall(line, number);
}

void LineStatus::noteCallAnswered(int line, const QString& number) {
    newCall(line, number);
    m_calls[line].incoming = true;
}

void LineStatus::noteLineActivity(int line) {
    const LineCall& call = lineCall(line);
    if (call.id == 0 || call.ended) newCall(line, QString());
}

LineCall& LineStatus::lineCall(int line) {
    return m_calls[line];
}

bool LineStatus::hasCall(int line) {
    const LineCall& call = lineCall(line);
    if (call.id != 0 && !call.ended) return true;
    return ctx.engine && ctx.engine->IsLineBusy(line);
}

CallEndScope::CallEndScope(LineStatus* lines, int line) : m_lines(lines), m_line(line) {
    if (!lines) return;
    LineCall& call = lines->lineCall(line);
    m_call = call.id;
    m_placedNumber = call.number;
    m_incoming = call.incoming;
    m_rowDue = !call.rowTaken;
    call.ended = call.ending = call.rowTaken = true;
    ++lines->m_callEndsRunning;
}

CallEndScope::~CallEndScope() {
    LineStatus* lines = m_lines;
    if (!lines) return;
    // A new call may have taken the line meanwhile; its record is not this end's.
    LineCall& call = lines->lineCall(m_line);
    if (call.id == m_call) call.ending = false;
    if (LiveCalls* live = lines->ctx.subsystems.liveCalls) live->callEnded(m_line, m_call);
    if (--lines->m_callEndsRunning == 0) Q_EMIT lines->callEndsFinished();
}

void LineStatus::onTimerTickTimeout() {
    QTreeWidget* table = ctx.ui->ListViewLineStatus;
    if (table->topLevelItemCount() == 0) {
        for (int n = 0; n < ctx.state.LineCount; ++n)
            table->addTopLevelItem(new QTreeWidgetItem(QStringList{lineNumberText(n)}));
    }

    showSecurity();
    SipEngine* engine = ctx.engine;
    if (!engine) return;
    for (int n = 0; n < ctx.state.LineCount && n < table->topLevelItemCount(); ++n) {
        QTreeWidgetItem* row = table->topLevelItem(n);
        const QString word =
            lineStatusWord([&] { return engine->IsLineOpen(n); }, [&] { return engine->IsLineBusy(n); },
                           [&] { return engine->IsLinePlayingWave(n); }, [&] { return engine->IsLineOnHold(n); });
        // Written only when the row does not already show it, so an unchanged line is left alone.
        if (lineStatusNeedsUpdate(row->text(StatusColumn), word)) row->setText(StatusColumn, word);
    }
}

void LineStatus::onCallTimerTimeout() {
    ctx.ui->callsec->setText(nextCallSeconds(ctx.ui->callsec->text()));
}

void LineStatus::onLineStatTxTChanged(const QString& text) {
    QLineEdit* mirror = ctx.ui->LineStatTxT;
    const QString shown = failureResultText(text.trimmed().toLower());
    if (shown.isEmpty()) {
        if (!mirror->text().isEmpty()) mirror->setText(QString());
        return;
    }

    mirror->setText(QString());
    ctx.ui->mouseMenu->setText(shown);
    // In auto-call mode the clipboard carries the dial requests; emptying it keeps the same request
    // from being taken again.
    if (ctx.ui->autoCheck->isChecked() && ctx.services.clipboard) {
        ctx.services.clipboard->clear();
        ctx.services.clipboard->setText(QString());
    }

    // Window messages are handled during the wait: the agent, the far end or the dial automation
    // may end this call, or place the next one, before it is over. The hang-up runs only when the
    // refused call of the current line is still there, not ended, and no later refusal of it has
    // taken over the job, so one refusal never ends two calls nor ends one twice. What happens on
    // the other lines does not matter.
    const int line = ctx.ui->ComboDial->currentIndex();
    LineCall& refused = lineCall(line);
    const quint64 call = refused.id;
    const int ticket = ++refused.refusals;
    QPointer<LineStatus> alive(this);
    msDelay(FailureHangUpDelayMs);
    if (!alive) return;
    const LineCall& now = lineCall(line);
    if (now.id != call || now.ended || now.refusals != ticket) return;
    // The far end refused the call: the hang-up only tidies up after it.
    if (LiveCalls* live = ctx.subsystems.liveCalls) live->noteEndedBy(line, endedby::FarEnd);
    if (CallEnd* callEnd = ctx.subsystems.callEnd) callEnd->onBtnHangUpClicked();
}

} // namespace corvid
