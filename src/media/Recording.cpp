#include "media/Recording.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include "window/WindowContext.h"
#include "calls/LiveCalls.h"
#include "media/PauseRules.h"
#include "media/RecordingFileName.h"
#include "phone/EngineErrors.h"
#include "phone/RingTone.h"
#include "platform/Blanks.h"
#include "platform/Delay.h"
#include "platform/PrivateFiles.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {

const QString kTrue = QStringLiteral("True");
constexpr int kRecordingMode = 2;
constexpr int kFinishWaitMs = 500;
constexpr int kBackupWaitMs = 5000;

} // namespace

Recording::Recording(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->CheckStartRecording, &QCheckBox::toggled, this, &Recording::onCheckStartRecordingToggled);
    connect(ui->RecThisCallCheck, &QCheckBox::toggled, this, &Recording::onRecThisCallCheckToggled);
    connect(ui->ComboRecord, &QComboBox::activated, this, &Recording::onComboRecordActivated);
    connect(ui->BtnResetRecordingBuffer, &QPushButton::clicked, this, &Recording::onBtnResetRecordingBufferClicked);
    connect(ui->recCheck2, &QCheckBox::toggled, this, &Recording::onRecCheck2Toggled);
    connect(ui->ctPush2, &QPushButton::clicked, this, &Recording::onCtPush2Clicked);
    connect(ui->backupwav, &QPushButton::clicked, this, &Recording::onBackupwavClicked);
    m_maxPause = new QTimer(this);
    m_maxPause->setSingleShot(true);
    connect(m_maxPause, &QTimer::timeout, this, &Recording::onMaxPauseTimeout);
    // The label beside the line chooser shows whether the chosen line's recording is paused.
    connect(ui->ComboDial, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int line) { ctx.ui->LabelRecordingPaused->setVisible(isPaused(line)); });
}

QString Recording::recordingFileName(const QString& number) const {
    return RecordingFileName(ctx.root.messages(), number, ctx.services.clock->now());
}

int Recording::currentLine() const {
    return ctx.ui->ComboDial->currentIndex();
}

bool Recording::numberFieldHoldsNumber() const {
    const QString number = ctx.ui->EditPhoneNo->text();
    return !number.isEmpty() && number != QLatin1String(" ");
}

void Recording::replaceStatusLog(const QString& line) {
    ctx.ui->ListStatusLog->clear();
    ctx.ui->ListStatusLog->addItem(line);
}

void Recording::appendStatusLog(const QString& line) {
    ctx.ui->ListStatusLog->addItem(line);
}

void Recording::reportUnsaved(const QString& path) {
    appendStatusLog(QStringLiteral("Recording not saved: could not write ") + QDir::toNativeSeparators(path) +
                    QLatin1Char('.'));
}

bool Recording::readRecordAll() {
    ctx.state.RecordAllSetting =
        ReadIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::recordAll));
    return ctx.state.RecordAllSetting == kTrue;
}

void Recording::onCheckStartRecordingToggled(bool checked) {
    if (!numberFieldHoldsNumber()) return;

    ctx.ui->CheckStartRecording->setText(checked ? QStringLiteral("Stop Recording Call")
                                                 : QStringLiteral("Start Recording Call"));
    const QString number = ctx.ui->EditPhoneNo->text();
    ctx.ui->EditSaveFileName->setText(recordingFileName(trimBlanks(number)));
    replaceStatusLog(QStringLiteral("Recording -") + number);

    const int line = currentLine();
    if (checked) {
        // Recording again ends a pause, whoever ticked the switch.
        setPaused(line, false);
        if (!ctx.engine || !ctx.engine->StartRecording(line, kRecordingMode, true)) ShowEngineError(ctx);
    } else {
        if (ctx.engine) ctx.engine->StopRecording(line);
        replaceStatusLog(QStringLiteral("Recording Paused -") + number);
    }
}

QString Recording::pauseRecording(bool pause, bool* acted) {
    const int line = currentLine();
    SipEngine* engine = ctx.engine;
    pause::LineState state;
    state.callUp = engine && line >= 0 && engine->IsLineBusy(line);
    state.recording = state.callUp && engine->RecordingLineOp(line);
    state.paused = state.callUp && isPaused(line);
    const pause::Answer answer = pause::decide(pause, line, state);
    if (acted) *acted = answer.verdict == pause::Verdict::Act;
    if (answer.verdict != pause::Verdict::Act) return answer.text;
    if (pause) {
        setPaused(line, true);
        // Through the switch, as the agent would pause: the status log says "Recording Paused -".
        ctx.ui->CheckStartRecording->setChecked(false);
        if (engine->RecordingLineOp(line)) engine->StopRecording(line);
    } else {
        ctx.ui->CheckStartRecording->setChecked(true); // ends the pause through its handler
        setPaused(line, false);
        if (!engine->RecordingLineOp(line) && !engine->StartRecording(line, kRecordingMode, true))
            return QStringLiteral("not resumed: ") + engineRefusal(ctx);
    }
    return answer.text;
}

void Recording::setPaused(int line, bool paused) {
    if (paused == isPaused(line)) return;
    if (paused) {
        m_paused.insert(line, ctx.services.clock->now());
        const int seconds = pause::maxPauseSeconds(
            ReadIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::MaxRecordingPause)));
        if (seconds > 0) {
            m_maxPauseLine = line;
            m_maxPause->start(seconds * 1000);
        }
    } else {
        m_paused.remove(line);
        if (m_maxPauseLine == line) m_maxPause->stop();
    }
    if (LiveCalls* live = ctx.subsystems.liveCalls) live->notePaused(line, paused);
    if (line == currentLine()) ctx.ui->LabelRecordingPaused->setVisible(paused);
    emit pauseChanged(line, paused);
}

void Recording::endPause(int line) {
    setPaused(line, false);
}

void Recording::onMaxPauseTimeout() {
    const int line = m_maxPauseLine;
    if (!isPaused(line) || !ctx.engine || !ctx.engine->IsLineBusy(line)) return;
    const QDateTime since = m_paused.value(line);
    setPaused(line, false);
    if (ctx.engine->StartRecording(line, kRecordingMode, true) && line == currentLine()) {
        const QSignalBlocker blocker(ctx.ui->CheckStartRecording); // already recording: no second start
        ctx.ui->CheckStartRecording->setChecked(true);
        ctx.ui->CheckStartRecording->setText(QStringLiteral("Stop Recording Call"));
    }
    appendStatusLog(QStringLiteral("%1: recording resumed after %2 s paused.")
                        .arg(QStringLiteral("Line-%1").arg(line + 1, 2))
                        .arg(since.secsTo(ctx.services.clock->now())));
}

void Recording::onRecThisCallCheckToggled(bool checked) {
    ctx.ui->CheckStartRecording->setChecked(checked);
}

void Recording::onComboRecordActivated(int) {
    // The engine is asked about the current line, not the line chosen in the list.
    ctx.ui->CheckStartRecording->setChecked(ctx.engine && ctx.engine->RecordingLineOp(currentLine()));
}

void Recording::onBtnResetRecordingBufferClicked() {
    if (!ctx.engine) return;
    const int line = currentLine();
    ctx.engine->ResetRecording(line);
    // A line whose media run records on into the emptied buffer. A held line may not: the switch
    // then offers to start recording again rather than claim that it runs.
    if (ctx.ui->CheckStartRecording->isChecked() && !ctx.engine->RecordingLineOp(line))
        ctx.ui->CheckStartRecording->setChecked(false);
}

void Recording::stopAndSaveRecording() {
    // Unticking stops the line's recording through the switch handler (when it was ticked).
    ctx.ui->RecThisCallCheck->setChecked(false);
    ctx.ui->CheckStartRecording->setChecked(false);

    const QString number = ctx.ui->EditPhoneNo->text();
    if (ctx.ui->EditSaveFileName->text().isEmpty() || number.isEmpty() || ctx.state.TransferMark == QLatin1String("1"))
        return;

    // The name carries the time recording stopped; a name already taken gets the next free suffix
    // (with no free name at all nothing is saved and the buffer is kept).
    makePrivatePath(ctx.root.messages());
    const QString composed = recordingFileName(trimBlanks(number));
    const QString path = uniqueRecordingPath(composed);
    ctx.ui->EditSaveFileName->setText(path.isEmpty() ? composed : path);
    if (path.isEmpty()) {
        reportUnsaved(composed);
        return;
    }

    const int line = currentLine();
    if (!ctx.engine || !ctx.engine->SaveRecording(line, path)) {
        reportUnsaved(path);
        return; // the buffer keeps its content
    }
    appendStatusLog(QStringLiteral("Stopped Recording -") + number);
    ctx.engine->ResetRecording(line);
    if (LiveCalls* live = ctx.subsystems.liveCalls) live->noteRecording(line, path);
}

void Recording::finishCallRecording() {
    if (readRecordAll()) {
        stopAndSaveRecording();
        ctx.ui->RecThisCallCheck->setChecked(false);
    }
    if (ctx.ui->RecThisCallCheck->isChecked()) stopAndSaveRecording();
    msDelay(kFinishWaitMs);
}

void Recording::finishOtherLineRecording(int line, const QString& number) {
    const bool due = readRecordAll() || ctx.ui->RecThisCallCheck->isChecked();
    if (due && ctx.engine && !number.isEmpty() && ctx.state.TransferMark != QLatin1String("1")) {
        QDir().mkpath(ctx.root.messages());
        const QString path = uniqueRecordingPath(recordingFileName(trimBlanks(number)));
        if (!path.isEmpty()) {
            if (ctx.engine->SaveRecording(line, path)) {
                appendStatusLog(QStringLiteral("Stopped Recording -") + number);
                ctx.engine->ResetRecording(line);
                if (LiveCalls* live = ctx.subsystems.liveCalls) live->noteRecording(line, path);
            } else if (ctx.engine->LastErrorCode() != EngineError::RecordingInit) {
                ShowEngineError(ctx);
            }
        }
    }
    msDelay(kFinishWaitMs);
}

void Recording::startRecordingIfRecordAll() {
    if (readRecordAll() && !isPaused(currentLine())) ctx.ui->CheckStartRecording->setChecked(true);
}

void Recording::onRecCheck2Toggled(bool checked) {
    const QString target = ctx.state.MonitorTarget;
    if (!numberFieldHoldsNumber() || target.isEmpty()) return;

    // The monitoring call's name carries the time recording started.
    MonitorRecordingFile.clear();
    MonitorRecordingFile = recordingFileName(target);
    replaceStatusLog(QStringLiteral("Recording -") + target);

    const int line = currentLine();
    if (checked) {
        if (!ctx.engine || !ctx.engine->StartRecording(line, kRecordingMode, true)) ShowEngineError(ctx);
    } else {
        if (ctx.engine) ctx.engine->StopRecording(line);
        replaceStatusLog(QStringLiteral("Recording Paused -") + target);
    }
}

void Recording::onCtPush2Clicked() {
    // Failures here are silent: a monitoring call that cannot be ended or saved is skipped.
    int line = currentLine();
    if (!ctx.engine || !ctx.engine->EndCall(line)) return;
    if (!ctx.ui->recCheck2->isChecked()) {
        ctx.engine->ResetRecording(line);
        return;
    }

    StopRingTone(ctx);
    line = currentLine();
    if (!numberFieldHoldsNumber()) return;

    // With no name composed at the start (the box was ticked before a number or target was
    // there), the recording is saved under a name composed now rather than lost.
    if (MonitorRecordingFile.isEmpty() && !ctx.state.MonitorTarget.isEmpty())
        MonitorRecordingFile = recordingFileName(ctx.state.MonitorTarget);
    if (MonitorRecordingFile.isEmpty()) return;
    makePrivatePath(ctx.root.messages());
    const QString path = uniqueRecordingPath(MonitorRecordingFile);
    if (path.isEmpty()) {
        reportUnsaved(MonitorRecordingFile);
        return;
    }
    MonitorRecordingFile = path;
    if (!ctx.engine->SaveRecording(line, path)) {
        reportUnsaved(path);
        return;
    }
    // A later monitoring call never reuses this call's name (and start time).
    MonitorRecordingFile.clear();

    appendStatusLog(QStringLiteral("Stopped Recording -") + ctx.state.MonitorTarget);
    ctx.engine->ResetRecording(line);
    // The save is complete; unticking must not run the switch's stop-and-log steps again.
    const QSignalBlocker blocker(ctx.ui->recCheck2);
    ctx.ui->recCheck2->setChecked(false);
}

void Recording::onBackupwavClicked() {
    // The window may go away during the wait; only touch the button if it is still there.
    QPointer<QWidget> button = ctx.ui->backupwav;
    button->setEnabled(false);
    const QString tool = ctx.root.appTool(QStringLiteral("recbackup"));
    if (ctx.services.processes) ctx.services.processes->startDetached(tool); // a missing tool is not reported
    msDelay(kBackupWaitMs);
    if (button) button->setEnabled(true);
}

} // namespace corvid
