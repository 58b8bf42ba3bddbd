#pragma once
// Going online and offline with BtnOnline, starting the engine on a free SIP port, opening the lines
// on their RTP ports, and the handlers of the registration events.

#include <QObject>
#include <QString>
#include <QStringList>

#include "engine/SipSecurity.h"

#include <functional>

namespace Ui {
class MainForm;
}

namespace corvid {

struct WindowContext;

// The SIP port range tried by StartEngine and the first RTP port of OpenLines.
constexpr int FirstSipPort = 5782;
constexpr int SipPortLimit = 7000; // first port no longer tried
constexpr int FirstRtpPort = 7000;
// OpenLines gives up after this many port-in-use failures on top of the line count.
constexpr int RtpRetryAllowance = 1000;

// Characters 3 to 6 (counted from 1) of the customer number; shorter numbers give what there is.
QString PbxIdFromCustomerNumber(const QString& customerNumber);

// The account panel's "SIP Proxy" and "Domain" fields: the stored SIPProxy and OutBoundProxy names
// with "pbx" in front.
void ShowProxyFields(Ui::MainForm& ui, const QString& sipProxy, const QString& outboundProxy);

// The number at the start of a text field, rounded down; 0 when the text does not start with one.
int WholeNumberFromText(const QString& text);

// The provider domain: the ProviderDomain key of the main settings file when set, else the build's default.
QString ProviderDomainSetting(const QString& settingsFile);

// The optional SipOutboundProxy key (host:port) of the main settings file; empty when unset.
QString SipOutboundProxySetting(const QString& settingsFile);

class OnlineControl : public QObject {
    Q_OBJECT
public:
    // Wires BtnOnline, OnLineTimer and the registration events of ctx.engine.
    explicit OnlineControl(WindowContext& ctx, QObject* parent = nullptr);

    // Refreshes the account fields, then goes online, or offline while the caption reads "Offline".
    void onBtnOnlineClicked();
    // One-shot: started by the start-up tick, it clicks the online button once.
    void onOnLineTimerTick();

    // Starts the engine on the first free SIP port from 5782. False after a message.
    bool StartEngine(QString& localAddress);
    // Opens lines 0 .. lines-1, each on the next free even RTP port from 7000. False after a message.
    bool OpenLines(QString& localAddress, int lines);

    void goOnline();
    void goOffline();

    // Registration events.
    void onRegisterTrying();
    void onRegisterSucceeded();
    void onRegisterFailed(int code, const QString& reason);
    void onUnregisterTrying();
    void onUnregisterSucceeded();
    void onUnregisterFailed();
    void onReregisterTrying();
    void onReregisterSucceeded();
    void onReregisterFailed(int code, const QString& reason);
    void onServerNotAnswering();
    void onSoundDeviceLost();

    // Called before the engine starts with the SipOutboundProxy setting (empty when unset), so the
    // code that created the engine can route its SIP traffic through that address.
    using OutboundProxyHook = std::function<void(const QString& hostPort)>;
    void setOutboundProxyHook(OutboundProxyHook hook) { m_outboundProxyHook = std::move(hook); }
    // Called before the engine starts with the transport, TLS, media-encryption and NAT settings
    // (SecuritySettingsFrom), for the code that created the engine.
    using SecurityHook = std::function<void(const SipSecurity& security)>;
    void setSecurityHook(SecurityHook hook) { m_securityHook = std::move(hook); }

    // The transport and media-encryption settings the engine was last started with.
    const SipSecurity& security() const { return m_security; }

    // The SIP port the engine was last started on (0 before).
    int sipPort() const { return m_sipPort; }

Q_SIGNALS:
    // Going online asks for the PBX page of active extensions once the phone is up.
    void directoryPageWanted();

private:
    void refreshAccountFields();
    void addStatusLog(const QString& text);
    void clearStatusLog();
    void setLastingLines(const QStringList& lines);
    void showSecurity();
    void fillLineLists();
    void clearLineStatusTable();
    void setStatusCaption(const QString& text);
    void message(const QString& text);

    WindowContext& m_ctx;
    OutboundProxyHook m_outboundProxyHook;
    SecurityHook m_securityHook;
    QStringList m_siteNotes;            // site files that cannot be read, kept in the log
    QString m_linkSecurity;             // the connection's security as going online set it up
    SipSecurity m_security;             // what going online was set up with
    bool m_settingsModeChecked = false; // the note on a settings file others can read comes once
    int m_sipPort = 0;
    // Counts goings online and offline, so a handler that waited can tell that the phone went
    // offline (or online again) under it.
    quint64 m_session = 0;
    bool m_noSoundDevice = false; // asked for the sound card, but none records and plays
    bool m_serverSilent = false;  // the registrar was reported silent, and has not answered since
};

} // namespace corvid
