#include "phone/OnlineControl.h"

#include <QPointer>
#include <cmath>

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "window/WindowTitle.h"
#include "calls/LineStatus.h"
#include "phone/AudioControls.h"
#include "phone/EngineErrors.h"
#include "phone/SecuritySettings.h"
#include "platform/Delay.h"
#include "platform/PrivateFiles.h"
#include "platform/ProviderDomain.h"
#include "settings/IniFile.h"
#include "settings/SiteSettings.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {
const QString System = QStringLiteral("System");
const QString UserAgent = QStringLiteral("Corvid22a");
constexpr int RegisterExpirySeconds = 1800;
constexpr int EngineIntervalMs = 30;
const QString NoSoundDeviceText = QStringLiteral("No sound device found: calls carry no audio from this computer.");
const QString SettingsReadableText =
    QStringLiteral("The settings file (with the SIP password) can be read by other users of this computer.");
const QString ServerSilentText = QStringLiteral("The SIP server does not answer. Trying again...");
const QString ServerBackText = QStringLiteral("The SIP server answers again: registered.");
const QString UnreadableSiteFileText =
    QStringLiteral("The site settings file %1 cannot be read: its settings are not used.");
} // namespace

void ShowProxyFields(Ui::MainForm& ui, const QString& sipProxy, const QString& outboundProxy) {
    ui.EditAccountSIPProxy->setText(QStringLiteral("pbx") + sipProxy);
    ui.EditAccountDomain->setText(QStringLiteral("pbx") + outboundProxy);
}

QString PbxIdFromCustomerNumber(const QString& customerNumber) {
    return customerNumber.mid(2, 4);
}

int WholeNumberFromText(const QString& text) {
    // Reads a leading number the way a text field's value is read: blanks first, then digits with
    // an optional sign and fraction; anything after them is ignored.
    const QString t = text.trimmed();
    int end = 0;
    if (end < t.size() && (t[end] == QLatin1Char('+') || t[end] == QLatin1Char('-'))) ++end;
    while (end < t.size() && (t[end].isDigit() || t[end] == QLatin1Char('.')))
        ++end;
    bool ok = false;
    const double value = t.left(end).toDouble(&ok);
    if (!ok || !std::isfinite(value)) return 0;
    const double floored = std::floor(value);
    if (floored < 0) return 0;
    return floored > 32767 ? 32767 : static_cast<int>(floored);
}

QString ProviderDomainSetting(const QString& settingsFile) {
    return providerDomain(GetProfileKey(System, QStringLiteral("ProviderDomain"), settingsFile));
}

QString SipOutboundProxySetting(const QString& settingsFile) {
    return GetProfileKey(System, QStringLiteral("SipOutboundProxy"), settingsFile).trimmed();
}

OnlineControl::OnlineControl(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    connect(m_ctx.ui->BtnOnline, &QPushButton::clicked, this, &OnlineControl::onBtnOnlineClicked);
    if (m_ctx.timers.OnLineTimer)
        connect(m_ctx.timers.OnLineTimer, &QTimer::timeout, this, &OnlineControl::onOnLineTimerTick);
    if (SipEngine* engine = m_ctx.engine) {
        connect(engine, &SipEngine::RegisterTrying, this, &OnlineControl::onRegisterTrying);
        connect(engine, &SipEngine::RegisterSucceeded, this, &OnlineControl::onRegisterSucceeded);
        connect(engine, &SipEngine::RegisterFailed, this, &OnlineControl::onRegisterFailed);
        connect(engine, &SipEngine::UnregisterTrying, this, &OnlineControl::onUnregisterTrying);
        connect(engine, &SipEngine::UnregisterSucceeded, this, &OnlineControl::onUnregisterSucceeded);
        connect(engine, &SipEngine::UnregisterFailed, this, &OnlineControl::onUnregisterFailed);
        connect(engine, &SipEngine::ReregisterTrying, this, &OnlineControl::onReregisterTrying);
        connect(engine, &SipEngine::ReregisterSucceeded, this, &OnlineControl::onReregisterSucceeded);
        connect(engine, &SipEngine::ReregisterFailed, this, &OnlineControl::onReregisterFailed);
        connect(engine, &SipEngine::ServerNotAnswering, this, &OnlineControl::onServerNotAnswering);
        connect(engine, &SipEngine::SoundDeviceLost, this, &OnlineControl::onSoundDeviceLost);
    }
}

void OnlineControl::onOnLineTimerTick() {
    m_ctx.timers.OnLineTimer->stop();
    onBtnOnlineClicked();
}

void OnlineControl::refreshAccountFields() {
    Ui::MainForm* ui = m_ctx.ui;
    m_ctx.state.settingsPath = m_ctx.root.settingsFile();
    const QString& path = m_ctx.state.settingsPath;
    m_ctx.state.SipTapiMode = GetProfileKey(System, QStringLiteral("UseSipTapi"), path);
    m_ctx.state.providerDomain = ProviderDomainSetting(path);

    ui->customerNumber->setText(MaskedCustomerNumber(GetProfileKey(System, QStringLiteral("customerNumber"), path)));
    m_ctx.state.PbxId = PbxIdFromCustomerNumber(ui->customerNumber->text());

    ui->EditAccountDisplayName->setText(GetProfileKey(System, QStringLiteral("DisplayName"), path));
    ui->EditAccountUserName->setText(GetProfileKey(System, QStringLiteral("Login"), path));
    ui->EditAccountAuthLogin->setText(GetProfileKey(System, QStringLiteral("AuthLogin"), path));
    ui->EditAccountAuthPassword->setText(GetProfileKey(System, QStringLiteral("Password"), path));
    const QString sipProxy = GetProfileKey(System, QStringLiteral("SIPProxy"), path);
    const QString outboundProxy = GetProfileKey(System, QStringLiteral("OutBoundProxy"), path);
    ui->swipeLengthTxT->setText(GetProfileKey(System, QStringLiteral("swipeSize"), path));
    if (ui->swipeLengthTxT->text().isEmpty()) ui->swipeLengthTxT->setText(QStringLiteral("14"));

    ui->EditTotalLine->setText(QStringLiteral("2"));
    ShowProxyFields(*ui, sipProxy, outboundProxy);
}

void OnlineControl::onBtnOnlineClicked() {
    refreshAccountFields();
    if (m_ctx.ui->BtnOnline->text() == QLatin1String("Offline"))
        goOffline();
    else
        goOnline();
}

void OnlineControl::goOnline() {
    Ui::MainForm* ui = m_ctx.ui;
    SipEngine* engine = m_ctx.engine;
    if (ui->EditAccountUserName->text().isEmpty()) {
        message(QStringLiteral("Please enter the SIP proxy Login Id."));
        return;
    }
    if (!engine) return;

    m_ctx.state.LineCount = WholeNumberFromText(ui->EditTotalLine->text());
    engine->SetUserAgent(UserAgent);
    QString address = engine->GetLocalAddress();
    if (m_outboundProxyHook) m_outboundProxyHook(SipOutboundProxySetting(m_ctx.state.settingsPath));
    if (!m_settingsModeChecked) {
        m_settingsModeChecked = true;
        if (readableByOthers(m_ctx.state.settingsPath)) addStatusLog(SettingsReadableText);
    }
    // What the agent must not miss stays in the log: a site file that cannot be read, a security
    // key that stops going online, a server whose certificate is not checked.
    m_siteNotes.clear();
    for (const QString& file : site::unreadableSiteFiles())
        m_siteNotes << UnreadableSiteFileText.arg(file);
    const SecuritySettings security = SecuritySettingsFrom(m_ctx.state.settingsPath);
    for (const QString& note : security.notes)
        addStatusLog(note);
    setLastingLines(m_siteNotes + security.errors);
    if (!security.errors.isEmpty()) {
        // A mistake in a security key never goes online in clear.
        setStatusCaption(QStringLiteral("Not online: see the status log."));
        return;
    }
    if (!security.unverifiedNote.isEmpty()) setLastingLines(m_siteNotes + QStringList{security.unverifiedNote});
    m_security = security.security;
    if (m_securityHook) m_securityHook(security.security);
    if (!StartEngine(address)) return;
    // A going-online attempt that stops after the engine started stops the engine again: the
    // caption still offers going online, and a second start on a running engine would only find
    // every SIP port taken.
    if (!OpenLines(address, m_ctx.state.LineCount)) {
        engine->EngineStop();
        return;
    }

    if (ui->CheckRegisterToProxy->isChecked()) {
        if (!engine->RegisterToProxy(RegisterExpirySeconds)) {
            ShowEngineError(m_ctx);
            engine->EngineStop();
            return;
        }
        addStatusLog(QStringLiteral("Registering to SIP Proxy."));
    }

    if (ui->CheckEchoCancel->isChecked())
        engine->EchoCancelOn();
    else
        engine->EchoCancelOff();

    // The engine offers the codecs in the order they are enabled.
    engine->DeselectAllCodecs();
    for (const CodecBox& entry : codecBoxes(*ui)) {
        if (entry.box->isChecked()) engine->EnableCodec(entry.codec);
    }

    engine->SetEngineInterval(EngineIntervalMs);
    engine->SetUserAgent(UserAgent);
    m_ctx.state.RingToneOn = ui->CheckPlayDialTone->isChecked();

    const int lines = m_ctx.state.LineCount;
    m_ctx.state.SpeakerMuted.resize(lines);
    m_ctx.state.MicMuted.resize(lines);
    m_ctx.state.SpeakerMuted.fill(false);
    m_ctx.state.MicMuted.fill(false);

    ui->BtnOnline->setText(QStringLiteral("Offline"));
    ui->EditTotalLine->setEnabled(false);
    const quint64 session = ++m_session;
    m_linkSecurity = connectionSecurityText(security.security);
    m_ctx.state.connectionSecurity = m_linkSecurity;
    showSecurity();

    if (AudioControls* audio = m_ctx.subsystems.audio) {
        audio->FillInputDevices();
        audio->FillOutputDevices();
    }
    // Without a device that records and one that plays, the engine runs its calls without this
    // computer's sound: say so rather than let the calls look like they carry the agent's voice.
    m_noSoundDevice = ui->CheckCaptureSoundDevice->isChecked() &&
                      (engine->InputDeviceCount() == 0 || engine->OutputDeviceCount() == 0);
    if (m_noSoundDevice) addStatusLog(NoSoundDeviceText);
    fillLineLists();

    if (m_ctx.timers.TimerTick) m_ctx.timers.TimerTick->start();
    // The level bars wait for a call (AudioControls::updateLevelTimer).

    // The button is disabled for the time of its wait; registration events and ticks run meanwhile.
    ui->BtnOnline->setEnabled(false);
    QPointer<OnlineControl> self(this);
    msDelay(1000);
    if (!self) return;
    ui->BtnOnline->setEnabled(true);
    // Went offline during the wait: no page for a phone that is no longer up.
    if (session != m_session) return;
    Q_EMIT directoryPageWanted();
}

void OnlineControl::goOffline() {
    Ui::MainForm* ui = m_ctx.ui;
    // Stopping the engine ends its calls as ended here, so no hang-up event would come for them:
    // each live call is hung up through the agent's hang-up first, with its recording and its row.
    // Offline is pressed once: a second press during those waits finds the button disabled.
    if (CallEnd* callEnd = m_ctx.subsystems.callEnd) {
        QPointer<QPushButton> button(ui->BtnOnline);
        QPointer<OnlineControl> self(this);
        button->setEnabled(false);
        callEnd->hangUpLiveCalls();
        if (!self) return;
        if (button) button->setEnabled(true);
    }
    ++m_session;
    m_serverSilent = false;
    m_ctx.state.Registered = false;
    if (m_ctx.timers.TimerTick) m_ctx.timers.TimerTick->stop();
    if (m_ctx.timers.TimerProgressBar) m_ctx.timers.TimerProgressBar->stop();
    ui->SpkProgress->setValue(0);
    ui->MicProgress->setValue(0);

    if (m_ctx.engine) m_ctx.engine->EngineStop();

    ui->BtnOnline->setText(QStringLiteral("Online"));
    ui->EditTotalLine->setEnabled(true);
    m_ctx.state.connectionSecurity = QStringLiteral("offline");
    showSecurity();
    setLastingLines(m_siteNotes); // the server's note was about this connection

    ui->ListAudioIn->clear();
    ui->ListAudioOut->clear();
    clearLineStatusTable();

    ui->dialerOnDDE->setText(QStringLiteral("OFF"));
    ui->autoCheck->setEnabled(false);
}

bool OnlineControl::StartEngine(QString& localAddress) {
    Ui::MainForm* ui = m_ctx.ui;
    SipEngine* engine = m_ctx.engine;
    for (int port = FirstSipPort; port < SipPortLimit; ++port) {
        const bool started = engine->EngineStart(
            false, localAddress, port, ui->EditAccountUserName->text(), ui->EditAccountAuthLogin->text(),
            ui->EditAccountAuthPassword->text(), ui->EditAccountDisplayName->text().trimmed(),
            ui->EditAccountDomain->text(), ui->EditAccountSIPProxy->text(), QString(),
            ui->CheckCaptureSoundDevice->isChecked(), m_ctx.state.LineCount);
        if (started) {
            m_sipPort = port;
            return true;
        }
        if (engine->LastErrorCode() != EngineError::PortInUse) {
            ShowEngineError(m_ctx);
            return false;
        }
    }
    message(QStringLiteral("Can not open SIP communication port."));
    return false;
}

bool OnlineControl::OpenLines(QString& localAddress, int lines) {
    SipEngine* engine = m_ctx.engine;
    int rtp = FirstRtpPort;
    int failures = 0;
    int line = 0;
    while (line <= lines - 1) {
        const bool opened = engine->OpenLine(line, false, localAddress, rtp);
        bool retry = false;
        if (!opened) {
            if (engine->LastErrorCode() != EngineError::PortInUse) {
                ShowEngineError(m_ctx);
                return false;
            }
            ++failures;
            retry = true;
        }
        rtp += 2;
        if (failures >= lines + RtpRetryAllowance) {
            message(QStringLiteral("Unable to open RTP communication port."));
            return false;
        }
        if (!retry) ++line;
    }
    return true;
}

void OnlineControl::onRegisterTrying() {
    m_ctx.state.Registered = false;
    addStatusLog(QStringLiteral("Trying to register."));
    setStatusCaption(QStringLiteral("Trying to register."));
}

void OnlineControl::onRegisterSucceeded() {
    m_serverSilent = false;
    m_ctx.state.connectionSecurity = m_linkSecurity;
    showSecurity();
    m_ctx.state.Registered = true;
    addStatusLog(QStringLiteral("Registered successfully."));
    const quint64 session = m_session;
    QPointer<OnlineControl> self(this);
    msDelay(500);
    // Going offline (or again online) during a wait ends this report: click-to-dial must not come
    // back on for a phone that is no longer registered.
    if (!self || session != m_session) return;
    clearStatusLog();
    addStatusLog(QStringLiteral("Ready..."));
    if (m_noSoundDevice) addStatusLog(NoSoundDeviceText); // the log was just emptied
    setStatusCaption(QStringLiteral("Ready..."));
    msDelay(1000);
    if (!self || session != m_session) return;
    setStatusCaption(QStringLiteral("Click Right Mouse Button for Menu"));
    m_ctx.ui->autoCheck->setEnabled(true);
}

void OnlineControl::onRegisterFailed(int, const QString& reason) {
    m_ctx.state.Registered = false;
    addStatusLog(QStringLiteral("Failed: ") + reason);
    // The log is narrow and moves on: the reason stays readable, wrapped, beside the line status.
    m_ctx.state.connectionSecurity = QStringLiteral("not registered: ") + reason;
    showSecurity();
    setStatusCaption(QStringLiteral("Failed to register."));
}

void OnlineControl::onUnregisterTrying() {
    m_ctx.state.Registered = false;
    addStatusLog(QStringLiteral("Trying to Unregister."));
}

void OnlineControl::onUnregisterSucceeded() {
    addStatusLog(QStringLiteral("Unregistered successfully."));
    setStatusCaption(QStringLiteral("Unregistered successfully."));
    setStatusCaption(QStringLiteral("You Are No On Line."));
}

void OnlineControl::onUnregisterFailed() {
    addStatusLog(QStringLiteral("Fail to unregister."));
}

void OnlineControl::onReregisterTrying() {
    addStatusLog(QStringLiteral("Trying to Re-Register."));
}

void OnlineControl::onReregisterSucceeded() {
    m_ctx.state.Registered = true;
    if (!m_serverSilent) return;
    m_serverSilent = false;
    addStatusLog(ServerBackText);
}

// Calls already connected go on (their media do not pass the server); new calls and the agent's
// reachability wait for it.
void OnlineControl::onServerNotAnswering() {
    m_ctx.state.Registered = false;
    m_serverSilent = true;
    addStatusLog(ServerSilentText);
}

void OnlineControl::onReregisterFailed(int, const QString& reason) {
    m_ctx.state.Registered = false;
    addStatusLog(QStringLiteral("Fail to Re-Register: ") + reason);
}

void OnlineControl::onSoundDeviceLost() {
    addStatusLog(QStringLiteral("The sound device stopped: calls go on without your microphone and speaker."));
}

void OnlineControl::addStatusLog(const QString& text) {
    if (LineStatus* lines = m_ctx.subsystems.lines)
        lines->AddStatusLog(text);
    else
        m_ctx.ui->ListStatusLog->addItem(text);
}

void OnlineControl::setLastingLines(const QStringList& lines) {
    if (LineStatus* status = m_ctx.subsystems.lines) status->setLastingLines(lines);
}

void OnlineControl::showSecurity() {
    if (LineStatus* status = m_ctx.subsystems.lines) status->showSecurity();
}

void OnlineControl::clearStatusLog() {
    m_ctx.ui->ListStatusLog->clear();
}

void OnlineControl::fillLineLists() {
    if (LineStatus* lines = m_ctx.subsystems.lines) lines->FillLineLists();
}

void OnlineControl::clearLineStatusTable() {
    m_ctx.ui->ListViewLineStatus->clear();
}

void OnlineControl::setStatusCaption(const QString& text) {
    m_ctx.ui->mouseMenu->setText(text);
}

void OnlineControl::message(const QString& text) {
    if (m_ctx.services.messages) m_ctx.services.messages->information(m_ctx.window, text);
}

} // namespace corvid
