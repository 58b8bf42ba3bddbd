#include "calls/Dialing.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "calls/LineRules.h"
#include "calls/LineStatus.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "phone/EngineErrors.h"
#include "platform/Delay.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

Dialing::Dialing(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->BtnDial, &QPushButton::clicked, this, &Dialing::onBtnDialClicked);
    connect(ui->redialPush, &QPushButton::clicked, this, &Dialing::onRedialPushClicked);
    connect(ui->Command1, &QPushButton::clicked, this, &Dialing::onCommand1Clicked);

    connect(ui->BtnDialPad0, &QPushButton::clicked, this, &Dialing::onBtnDialPad0Clicked);
    connect(ui->BtnDialPad1, &QPushButton::clicked, this, &Dialing::onBtnDialPad1Clicked);
    connect(ui->BtnDialPad2, &QPushButton::clicked, this, &Dialing::onBtnDialPad2Clicked);
    connect(ui->BtnDialPad3, &QPushButton::clicked, this, &Dialing::onBtnDialPad3Clicked);
    connect(ui->BtnDialPad4, &QPushButton::clicked, this, &Dialing::onBtnDialPad4Clicked);
    connect(ui->BtnDialPad5, &QPushButton::clicked, this, &Dialing::onBtnDialPad5Clicked);
    connect(ui->BtnDialPad6, &QPushButton::clicked, this, &Dialing::onBtnDialPad6Clicked);
    connect(ui->BtnDialPad7, &QPushButton::clicked, this, &Dialing::onBtnDialPad7Clicked);
    connect(ui->BtnDialPad8, &QPushButton::clicked, this, &Dialing::onBtnDialPad8Clicked);
    connect(ui->BtnDialPad9, &QPushButton::clicked, this, &Dialing::onBtnDialPad9Clicked);
    connect(ui->BtnDialPadStar, &QPushButton::clicked, this, &Dialing::onBtnDialPadStarClicked);
    connect(ui->BtnDialPadNo, &QPushButton::clicked, this, &Dialing::onBtnDialPadNoClicked);
    connect(ui->abctxt, &QPushButton::clicked, this, &Dialing::onAbctxtClicked);
    connect(ui->ctText1, &QPushButton::clicked, this, &Dialing::onCtText1Clicked);
    connect(ui->ctText2, &QPushButton::clicked, this, &Dialing::onCtText2Clicked);
    connect(ui->ctText3, &QPushButton::clicked, this, &Dialing::onCtText3Clicked);
    connect(ui->ctText4, &QPushButton::clicked, this, &Dialing::onCtText4Clicked);
    connect(ui->ctText5, &QPushButton::clicked, this, &Dialing::onCtText5Clicked);
    connect(ui->ctText6, &QPushButton::clicked, this, &Dialing::onCtText6Clicked);
    connect(ui->ctText7, &QPushButton::clicked, this, &Dialing::onCtText7Clicked);
    connect(ui->ctText8, &QPushButton::clicked, this, &Dialing::onCtText8Clicked);
}

bool Dialing::placeCall(Asker asker) {
    Ui::MainForm* ui = ctx.ui;
    const QString settings = ctx.root.settingsFile();
    ctx.state.TransferMark = QStringLiteral("0");

    ctx.state.InBandSetting = ReadIniKey(settings, keys::System, keys::InBand);
    if (const std::optional<bool> tick = forceInBandFromSetting(ctx.state.InBandSetting))
        ui->CheckForceInbandDTMF->setChecked(*tick);

    const QString number = ui->EditPhoneNo->text();
    if (number.isEmpty()) {
        if (asker == Asker::Agent && ctx.services.messages)
            ctx.services.messages->information(ctx.window, EmptyNumberMessage);
        return false;
    }

    const int line = ui->ComboDial->currentIndex();
    LineStatus* lines = ctx.subsystems.lines;
    if (!placeCall(line, number, number)) {
        if (asker == Asker::Agent)
            ShowEngineError(ctx);
        else if (lines)
            lines->AddStatusLog(
                lineStatusLogLine(line, QStringLiteral(": Not dialled - %1: %2").arg(number, engineRefusal(ctx))));
        return false;
    }

    if (lines) lines->AddStatusLog(dialingStatusLogLine(line, number));
    ctx.state.CurrentNumber = number;
    if (CallLog* callLog = ctx.subsystems.callLog)
        callLog->writePlacedCalls(callLog->placedCallsPath(), number, placedCallsWhen(ctx.services.clock->now()));
    ui->mouseMenu->setText(dialingCaption(number));
    WriteIniKey(settings, keys::System, keys::LastNumber, number);
    return true;
}

bool Dialing::placeCall(int line, const QString& dialString, const QString& number) {
    const Ui::MainForm* ui = ctx.ui;
    QString dialled = dialString;
    if (!ctx.engine || !ctx.engine->PlaceCall(line, dialled, engineDeviceFromListRow(ui->ListAudioIn->currentRow()),
                                              engineDeviceFromListRow(ui->ListAudioOut->currentRow())))
        return false;
    if (LineStatus* lines = ctx.subsystems.lines) lines->noteCallPlaced(line, number);
    ui->callsec->setText(QStringLiteral("0"));
    ctx.timers.CallTimer->start();
    return true;
}

void Dialing::onRedialPushClicked() {
    const QString last = ReadIniKey(ctx.root.settingsFile(), keys::System, keys::LastNumber);
    if (last.isEmpty()) return;
    ctx.ui->EditPhoneNo->setText(last);

    // The button waits: it stays disabled for the time of the action.
    QPointer<QPushButton> button(ctx.ui->redialPush);
    button->setEnabled(false);
    QPointer<Dialing> alive(this);
    msDelay(dialpad::RedialWaitMs);
    if (!alive) return;
    if (button) button->setEnabled(true);
    onBtnDialClicked();
}

void Dialing::onCommand1Clicked() {
    QPointer<QPushButton> button(ctx.ui->Command1);
    button->setEnabled(false);
    QPointer<Dialing> alive(this);
    msDelay(dialpad::MailboxFirstWaitMs);
    for (int i = 0; alive && i < dialpad::MailboxCode.size(); ++i) {
        if (i > 0) msDelay(dialpad::MailboxDigitGapMs);
        // The current line is read again for every digit: a change of ComboDial during the waits
        // moves the remaining digits to the new line.
        if (alive) sendDigit(dialpad::MailboxCode.mid(i, 1));
    }
    if (button) button->setEnabled(true);
}

void Dialing::pressKey(const char* control) {
    const DialPadKey* key = findDialPadKey(QLatin1String(control));
    if (!key) return;
    ctx.ui->EditPhoneNo->setText(pressDialPadKey(ctx.ui->EditPhoneNo->text(), *key));
    sendDigit(QString(key->dtmf));
}

void Dialing::sendDigit(const QString& digit) {
    // Sent whether or not a call is up; the engine's answer is not looked at.
    if (ctx.engine) ctx.engine->SendDtmfDigit(ctx.ui->ComboDial->currentIndex(), digit);
}

void Dialing::onBtnDialPad0Clicked() {
    pressKey("BtnDialPad0");
}
void Dialing::onBtnDialPad1Clicked() {
    pressKey("BtnDialPad1");
}
void Dialing::onBtnDialPad2Clicked() {
    pressKey("BtnDialPad2");
}
void Dialing::onBtnDialPad3Clicked() {
    pressKey("BtnDialPad3");
}
void Dialing::onBtnDialPad4Clicked() {
    pressKey("BtnDialPad4");
}
void Dialing::onBtnDialPad5Clicked() {
    pressKey("BtnDialPad5");
}
void Dialing::onBtnDialPad6Clicked() {
    pressKey("BtnDialPad6");
}
void Dialing::onBtnDialPad7Clicked() {
    pressKey("BtnDialPad7");
}
void Dialing::onBtnDialPad8Clicked() {
    pressKey("BtnDialPad8");
}
void Dialing::onBtnDialPad9Clicked() {
    pressKey("BtnDialPad9");
}

void Dialing::onBtnDialPadStarClicked() {
    pressKey("BtnDialPadStar");
}

void Dialing::onBtnDialPadNoClicked() {
    pressKey("BtnDialPadNo");
}

void Dialing::onAbctxtClicked() {
    pressKey("abctxt");
}
void Dialing::onCtText1Clicked() {
    pressKey("ctText1");
}
void Dialing::onCtText2Clicked() {
    pressKey("ctText2");
}
void Dialing::onCtText3Clicked() {
    pressKey("ctText3");
}
void Dialing::onCtText4Clicked() {
    pressKey("ctText4");
}
void Dialing::onCtText5Clicked() {
    pressKey("ctText5");
}
void Dialing::onCtText6Clicked() {
    pressKey("ctText6");
}
void Dialing::onCtText7Clicked() {
    pressKey("ctText7");
}
void Dialing::onCtText8Clicked() {
    pressKey("ctText8");
}

} // namespace corvid
