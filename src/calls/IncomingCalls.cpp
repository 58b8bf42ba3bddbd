#include "calls/IncomingCalls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>

#include "window/WindowContext.h"
#include "calls/DialRules.h"
#include "phone/EngineErrors.h"
#include "platform/Blanks.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

IncomingCalls::IncomingCalls(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->CheckDisturb, &QCheckBox::toggled, this, &IncomingCalls::onCheckDisturbToggled);
    connect(ui->CheckForwardCall, &QCheckBox::toggled, this, &IncomingCalls::onCheckForwardCallToggled);
    connect(ui->EditForwardCallPhoneNo, &QLineEdit::editingFinished, this,
            &IncomingCalls::onEditForwardCallPhoneNoClicked);
    ui->EditForwardCallPhoneNo->installEventFilter(this);
    connect(ui->BtnAccept, &QPushButton::clicked, this, &IncomingCalls::onBtnAcceptClicked);
    connect(ui->BtnReject, &QPushButton::clicked, this, &IncomingCalls::onBtnRejectClicked);
    // SipEngine::IncomingCall is deliberately not connected: the dialer does not take calls.
}

bool IncomingCalls::eventFilter(QObject* watched, QEvent* event) {
    // The event's type first: during the window's tear-down the form's object is already gone.
    if (event->type() == QEvent::MouseButtonRelease && watched == ctx.ui->EditForwardCallPhoneNo &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        onEditForwardCallPhoneNoClicked();
    return QObject::eventFilter(watched, event);
}

void IncomingCalls::onCheckDisturbToggled(bool checked) {
    if (!ctx.engine) return;
    if (checked)
        ctx.engine->DndOn();
    else
        ctx.engine->DndOff();
}

void IncomingCalls::onEditForwardCallPhoneNoClicked() {
    WriteIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::Forward),
                trimBlanks(ctx.ui->EditForwardCallPhoneNo->text()));
}

void IncomingCalls::setForwardBox(bool checked) {
    const QSignalBlocker blocker(ctx.ui->CheckForwardCall);
    ctx.ui->CheckForwardCall->setChecked(checked);
}

void IncomingCalls::onCheckForwardCallToggled(bool checked) {
    const QString number = ctx.ui->EditForwardCallPhoneNo->text();
    // Only switching forwarding on needs a number: switching it off always reaches the engine, so
    // forwarding set up earlier can be ended after the field was emptied.
    if (checked && number.isEmpty()) {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, forwarding::NoNumberMessage);
        setForwardBox(false);
        return;
    }
    // An engine without forwarding (none at all, or one that throws) asks for a newer program.
    bool accepted = false;
    bool available = ctx.engine != nullptr;
    if (available) {
        try {
            accepted = ctx.engine->ForwardCalls(checked, number);
        } catch (...) {
            available = false;
        }
    }
    if (!available) {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, forwarding::UpdateSoftwareMessage);
        setForwardBox(!checked);
        return;
    }
    if (!accepted) {
        ShowEngineError(ctx);
        // The engine's forwarding is as it was; the box shows that rather than the refused wish.
        setForwardBox(!checked);
    }
}

QString IncomingCalls::selectedCallId() const {
    const int row = ctx.ui->ListIncomingCall->currentRow();
    if (row < 0) return {};
    QListWidgetItem* id = ctx.ui->ListIncomingCallIds->item(row);
    return id ? id->text() : QString();
}

void IncomingCalls::onBtnAcceptClicked() {
    const QString callId = selectedCallId();
    if (callId.isEmpty() || !ctx.engine) return;
    Ui::MainForm* ui = ctx.ui;
    if (!ctx.engine->AnswerCall(ui->ComboIncomingCall->currentIndex(), callId,
                                engineDeviceFromListRow(ui->ListAudioIn->currentRow()),
                                engineDeviceFromListRow(ui->ListAudioOut->currentRow())))
        ShowEngineError(ctx);
}

void IncomingCalls::onBtnRejectClicked() {
    const QString callId = selectedCallId();
    if (callId.isEmpty() || !ctx.engine) return;
    if (!ctx.engine->RefuseCall(callId)) ShowEngineError(ctx);
}

} // namespace corvid
