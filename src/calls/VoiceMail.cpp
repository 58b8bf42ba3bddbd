#include "calls/VoiceMail.h"

#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "calls/Dialing.h"
#include "calls/LineStatus.h"
#include "calls/TransferRules.h"
#include "phone/EngineErrors.h"
#include "platform/Delay.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

VoiceMail::VoiceMail(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->vmclick, &QPushButton::clicked, this, &VoiceMail::onVmclickClicked);
    connect(ui->VMCallPush, &QPushButton::clicked, this, &VoiceMail::onVMCallPushClicked);
    connect(ui->ListtogreetingCmd, &QPushButton::clicked, this, &VoiceMail::onListtogreetingCmdClicked);
    connect(ui->GreatPush, &QPushButton::clicked, this, &VoiceMail::onGreatPushClicked);
    connect(ui->RecClick, &QPushButton::clicked, this, &VoiceMail::onRecClickClicked);
}

// Calls number on the current line, as that call's number in its row; a refusal shows the engine's error.
bool VoiceMail::placeCall(const QString& number, int* line) {
    const int current = ctx.ui->ComboDial->currentIndex();
    if (line) *line = current;
    if (ctx.subsystems.dialing && ctx.subsystems.dialing->placeCall(current, number, number)) return true;
    ShowEngineError(ctx);
    return false;
}

bool VoiceMail::didEnabled() const {
    return ReadIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::DID)) ==
           QLatin1String("True");
}

void VoiceMail::onVmclickClicked() {
    // Enabled again by the agent's hang-up; a second press meanwhile would call the mailbox twice.
    ctx.ui->vmclick->setEnabled(false);
    if (!placeCall(voicemail::AccessCode)) ctx.ui->vmclick->setEnabled(true);
}

void VoiceMail::onVMCallPushClicked() {
    const QString text = ctx.ui->EditTransferPhoneNo->currentText();
    if (text.isEmpty()) return;
    const std::optional<QString> number = transferNumberPart(text);
    if (!number) return;
    int line = 0;
    if (!placeCall(*number, &line)) return;
    if (LineStatus* lines = ctx.subsystems.lines) lines->AddStatusLog(dialingStatusLogLine(line, *number));
}

void VoiceMail::onListtogreetingCmdClicked() {
    QPushButton* button = ctx.ui->ListtogreetingCmd;
    button->setEnabled(false);
    if (didEnabled()) placeCall(voicemail::GreetingNumber);
    button->setEnabled(true);
}

void VoiceMail::onGreatPushClicked() {
    if (!didEnabled()) return;
    startTool(ctx.ui->GreatPush, voicemail::GreetingTool);
}

void VoiceMail::onRecClickClicked() {
    startTool(ctx.ui->RecClick, voicemail::MessageTool);
}

// A tool that cannot be started leaves no message; the button comes back after the wait either way.
void VoiceMail::startTool(QPushButton* button, const QString& tool) {
    QPointer<QPushButton> guard(button);
    button->setEnabled(false);
    const QString program = ctx.root.appTool(tool);
    if (ctx.services.processes && !program.isEmpty()) ctx.services.processes->startDetached(program);
    msDelay(voicemail::ToolWaitMs);
    if (guard) guard->setEnabled(true);
}

} // namespace corvid
