#include "integrations/CrmPopup.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QUrl>

#include "window/WindowContext.h"
#include "dialer/CallLog.h"
#include "integrations/CrmRules.h"
#include "platform/Blanks.h"
#include "platform/Delay.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

CrmPopup::CrmPopup(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->CIDPush, &QPushButton::clicked, this, &CrmPopup::onCIDPushClicked);
    connect(ui->cidCheck, &QCheckBox::toggled, this, &CrmPopup::onCidCheckToggled);
    connect(ui->saveHidePush, &QPushButton::clicked, this, &CrmPopup::onSaveHidePushClicked);
}

QString CrmPopup::crmPageAddressFor(const QString& callerId) const {
    const Ui::MainForm* ui = ctx.ui;
    const QString host =
        crmHost(ReadIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(CrmHostKey)));
    return crmPageAddress(host, ui->LMUsetTxt->text(), ui->LMPassTxt->text(), ui->LMWorkGroupTxT->text(), callerId);
}

void CrmPopup::onCIDPushClicked() {
    Ui::MainForm* ui = ctx.ui;
    const QString callerId = ui->CIDTxt->text();
    if (callerId.isEmpty()) return;
    // The window may be closed during the wait: nothing is touched after it then.
    QPointer<QPushButton> button(ui->CIDPush);

    if (!ui->LMUsetTxt->text().isEmpty()) {
        button->setEnabled(false);
        const QUrl address(crmPageAddressFor(callerId), QUrl::StrictMode);
        if (ctx.services.desktop && address.isValid()) ctx.services.desktop->openUrl(address);
        msDelay(WebWaitMs);
        if (!button) return;
        button->setEnabled(true);
        ui->CIDTxt->clear();
        return;
    }

    button->setEnabled(false);
    const QString fileName = callerIdFileName(callerId);
    if (!fileName.isEmpty()) {
        if (CallLog* log = ctx.subsystems.callLog)
            log->writeInFile(ctx.root.datalink() + QLatin1Char('/') + fileName, ui->EditPhoneNo->text());
    }
    msDelay(DatalinkWaitMs);
    if (!button) return;
    button->setEnabled(true);
    removeDatalinkTextFiles();
    ui->CIDTxt->clear();
}

void CrmPopup::removeDatalinkTextFiles() {
    // "*.txt" without regard to case; files only, never what a link points to.
    const QDir folder(ctx.root.datalink());
    const QStringList names = folder.entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        QFile::remove(folder.filePath(name));
}

void CrmPopup::onCidCheckToggled(bool checked) {
    WriteIniKey(ctx.root.settingsFile(), QLatin1String(keys::System), QLatin1String(keys::AutoCid),
                checked ? QStringLiteral("True") : QStringLiteral("False"));
}

void CrmPopup::onSaveHidePushClicked() {
    Ui::MainForm* ui = ctx.ui;
    const QString settings = ctx.root.settingsFile();
    const QLatin1String system(keys::System);
    WriteIniKey(settings, system, QLatin1String(keys::LMUser), trimBlanks(ui->LMUsetTxt->text()));
    WriteIniKey(settings, system, QLatin1String(keys::LMPass), trimBlanks(ui->LMPassTxt->text()));
    WriteIniKey(settings, system, QLatin1String(keys::LMWGroup), trimBlanks(ui->LMWorkGroupTxT->text()));
    ui->LMFrame->hide();
}

} // namespace corvid
