#include "app/Startup.h"

#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "dialer/AutomationJournal.h"
#include "integrations/HttpControl.h"
#include "phone/OnlineControl.h"
#include "platform/ProviderDomain.h"
#include "settings/IniFile.h"
#include "settings/ListFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"
#include "window/WindowContext.h"
#include "window/WindowTitle.h"

#include <QLocale>

namespace corvid {

namespace {
const QString kSystem = QString::fromLatin1(keys::System);
}

Startup::Startup(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    connect(m_ctx.timers.TimeTimer, &QTimer::timeout, this, &Startup::onTimeTimerTimeout);
}

QString Startup::clockText(const QTime& time) {
    // The C locale's AM/PM texts, whatever the desktop's language.
    return QLocale::c().toString(time, QStringLiteral("hh:mm AP"));
}

void Startup::onFormLoad() {
    Ui::MainForm* ui = m_ctx.ui;
    const QString webSettings = m_ctx.root.binFile(QString::fromLatin1(keys::WebSettingsFile));
    WriteIniKey(webSettings, kSystem, QStringLiteral("CLICK"), QStringLiteral("ON"));

    m_ctx.state.settingsPath = m_ctx.root.settingsFile();
    const QString path = m_ctx.state.settingsPath;
    auto profile = [&](const char* key) { return GetProfileKey(kSystem, QString::fromLatin1(key), path); };
    auto read = [&](const char* key) { return ReadIniKey(path, kSystem, QString::fromLatin1(key)); };
    m_ctx.state.providerDomain = providerDomain(read(keys::ProviderDomain));

    // The account fields.
    const QString customerNumber = profile(keys::customerNumber);
    ui->customerNumber->setText(MaskedCustomerNumber(customerNumber));
    ui->Text1->setText(MaskedCustomerNumber(customerNumber));
    ui->EditAccountDisplayName->setText(profile(keys::DisplayName));
    ui->EditAccountUserName->setText(profile(keys::Login));
    ui->EditAccountAuthLogin->setText(profile(keys::AuthLogin));
    ui->EditAccountAuthPassword->setText(profile(keys::Password));
    const QString sipProxy = profile(keys::SIPProxy);
    const QString outboundProxy = profile(keys::OutBoundProxy);
    ui->customerNumber->setText(QStringLiteral("Cust#: ") + ui->customerNumber->text());
    ui->Text2->setText(profile(keys::userweb));
    ui->Text3->setText(profile(keys::passweb));

    ui->EditTotalLine->setText(QStringLiteral("2"));
    ShowProxyFields(*ui, sipProxy, outboundProxy);

    ui->topCheck->setChecked(true);

    ui->SysStatFrm->hide();
    if (read(keys::clickshow123) == QLatin1String("True")) ui->SysStatFrm->show();

    m_ctx.state.version = QStringLiteral(CORVID_VERSION);

    // Changing the box runs its own handler; with no lines yet it sends nothing to the engine.
    m_ctx.state.InBandSetting = read(keys::InBand);
    if (m_ctx.state.InBandSetting == QLatin1String("True"))
        ui->CheckForceInbandDTMF->setChecked(true);
    else if (m_ctx.state.InBandSetting == QLatin1String("False"))
        ui->CheckForceInbandDTMF->setChecked(false);

    ui->EditForwardCallPhoneNo->setText(read(keys::Forward));
    // The box takes the stored flag as its value; anything but a flag leaves it as it is.
    const QString autoCid = read(keys::AutoCid);
    if (autoCid == QLatin1String("True") || autoCid == QLatin1String("1"))
        ui->cidCheck->setChecked(true);
    else if (autoCid == QLatin1String("False") || autoCid == QLatin1String("0"))
        ui->cidCheck->setChecked(false);
    ui->LMUsetTxt->setText(read(keys::LMUser));
    ui->LMPassTxt->setText(read(keys::LMPass));
    ui->LMWorkGroupTxT->setText(read(keys::LMWGroup));

    // The line status table: the line number, then its status word.
    ui->ListViewLineStatus->setColumnCount(2);
    ui->ListViewLineStatus->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Status")});
    ui->ListViewLineStatus->setColumnWidth(0, 28);
    ui->ListViewLineStatus->setColumnWidth(1, 160);

    ui->PlayMsgPush->show();
    ui->RecClick->show();
    ui->LAMPush->show();

    ShowCustomerWindowTitle(m_ctx);
    ui->EditTotalLine->setText(QStringLiteral("2"));
    WriteIniKey(webSettings, kSystem, QStringLiteral("Click"), QStringLiteral("ON"));

    // The agent list is added to as it is (the list is empty at start-up).
    ui->agentList->addItems(readListFile(m_ctx.root.binFile(QStringLiteral("agentlist.txt")), AgentListMaxFields));
    ui->EditTransferPhoneNo->setEditText(read(keys::TransferNumber));
    // The monitor list is named after the login; a login that is not a plain file name names
    // no file (it could otherwise point outside bin/).
    const QString monitorFile = m_ctx.root.binFile(ui->EditAccountAuthLogin->text() + QStringLiteral(".txt"));
    if (!monitorFile.isEmpty()) ui->MonList->addItems(readListFile(monitorFile, MonitorListMaxFields));

    // Other programs' HTTP control, when the settings turn it on.
    if (m_ctx.subsystems.httpControl) m_ctx.subsystems.httpControl->start();
}

void Startup::startDesignTimeTimers() {
    m_ctx.timers.webtimer->start();
    m_ctx.timers.DialTimer->start();
    m_ctx.timers.TapiSip->start();
    m_ctx.timers.TimeTimer->start();
}

void NoteRestartAfterFailure(WindowContext& ctx, const QString& how, const QDateTime& when) {
    const QString stamp = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (ctx.subsystems.lines)
        ctx.subsystems.lines->AddStatusLog(
            QStringLiteral("Restarted after a failure at %1: the dialer ended by %2.").arg(stamp, how));
    AutomationJournal ownJournal(ctx.root.logFile(QStringLiteral("automation.log")));
    AutomationJournal& journal = ctx.subsystems.automation ? ctx.subsystems.automation->journal() : ownJournal;
    const QDateTime now = ctx.services.clock ? ctx.services.clock->now() : QDateTime::currentDateTime();
    journal.append(now, QStringLiteral("supervisor"), how, QStringLiteral("restarted after a failure at ") + stamp);
}

void Startup::onTimeTimerTimeout() {
    m_ctx.ui->TimeText->setText(clockText(m_ctx.services.clock->now().time()));
}

} // namespace corvid
