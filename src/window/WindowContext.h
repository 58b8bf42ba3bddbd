#pragma once
// What every subsystem's handlers get: the form's widgets (the single source of truth for what the
// agent sees and sets), the window-level values, the engine, the install root, the platform
// services and the window's timers. Header-only so that subsystems need not link app/.

#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <QVector>

#include "engine/SipEngine.h"
#include "platform/InstallRoot.h"
#include "platform/Services.h"

namespace Ui {
class MainForm;
}

namespace corvid {

// Window-level values shared by several subsystems.
struct WindowState {
    QString settingsPath; // root/bin/corvidapp.ini, set again before each use
    QString version = QStringLiteral(CORVID_VERSION);
    QString providerDomain; // build default, overridable by the ProviderDomain key
    QString CurrentNumber;
    QString InBandSetting;    // last read value of InBand
    QString RecordAllSetting; // last read value of recordAll
    QString TransferMark;     // "1" after a supervised transfer
    QString SipTapiMode;      // value of UseSipTapi
    QString PbxId;            // characters 3 to 6 of the customer number
    QString MonitorTarget;
    bool RingToneOn = false;
    QVector<bool> SpeakerMuted; // per line
    QVector<bool> MicMuted;     // per line
    int LineCount = 0;
    // How the phone reaches its server, as the window shows it: "TLS", "TLS, server not verified",
    // "not encrypted"; "offline" while not online.
    QString connectionSecurity = QStringLiteral("offline");
    // The text of LineSecurity: that, and the security of the calls that are up.
    QString securityText;
    bool Registered = false; // the account's registration is established (and the registrar answers)
    // The seconds of the current call live in the form's callsec field only (the agent sees and
    // may edit it; the call-seconds tick and the call-log row read it there).
};

// The window's timers, created by MainForm with their design-time intervals.
struct WindowTimers {
    QTimer* webtimer = nullptr;         // 2000 ms, one-shot start-up decision
    QTimer* OnLineTimer = nullptr;      // 1000 ms, one-shot: clicks the online button
    QTimer* TapiSip = nullptr;          // 500 ms, datalink poll
    QTimer* DialTimer = nullptr;        // 500 ms, clipboard dial
    QTimer* TimerTick = nullptr;        // 1000 ms, line status while online
    QTimer* TimerProgressBar = nullptr; // 20 ms, level bars while a line has a call
    QTimer* CallTimer = nullptr;        // 1000 ms, call seconds
    QTimer* logCleanTimer = nullptr;    // 500 ms, one-shot after a call ends
    QTimer* TimeTimer = nullptr;        // 1000 ms, clock
};

class OnlineControl; // phone/OnlineControl.h: BtnOnline, StartEngine, OpenLines, registration events
class AudioControls; // phone/AudioControls.h: devices, sliders, mutes, levels, codecs, ring tone
class LineStatus;    // calls/LineStatus.h: AddStatusLog, FillLineLists, line table, CallTimer, busy reaction
class Dialing;       // calls/Dialing.h: Call, Redial, dial pad, Box#
class CallEnd;       // calls/CallEnd.h: call progress events, hang-up, far-end hang-up, per-line mute
class CallLog;       // dialer/CallLog.h: the log writers, Clear, logCleanTimer
class Recording;     // media/Recording.h: call and monitoring-call recording
class PbxPage;       // integrations/PbxPage.h: start-up tick, PBX page, label switches
class WavePlayback;  // media/WavePlayback.h: the wave playback panel and the message slots
class MessageDrop;   // dialer/MessageDrop.h: PAM, LIS, the message buttons, PlayWaveDone
class Automation;    // dialer/Automation.h: the datalink poll, the clipboard dispatcher, their journal
class ClickToDial;   // integrations/ClickToDial.h: autoCheck and the bridge button
class Chat;          // chat/Chat.h: chat panel, contacts and presence, messages, chat log
class Monitoring;    // integrations/Monitoring.h: monitor list, DDE buttons (and D-Bus), agent list
class CrmPopup;      // integrations/CrmPopup.h: "PoP CID", "Auto CID", CRM login "Save/Hide"
class MidCall;       // calls/MidCall.h: hold, resume, transfers, three-way, transfer number
class IncomingCalls; // calls/IncomingCalls.h: do-not-disturb, forwarding, Answer/Reject
class VoiceMail;     // calls/VoiceMail.h: voice mail, INT, greetings, the message tool
class HttpControl;   // integrations/HttpControl.h: the loopback HTTP control and its event stream
class LiveCalls;     // calls/LiveCalls.h: the crash-safe records of live calls, their recovery at start-up

// The subsystem objects, created and owned by MainForm, so that one handler can call another
// subsystem's routine by name (ctx.subsystems.recording->finishCallRecording()).
struct Subsystems {
    OnlineControl* online = nullptr;
    AudioControls* audio = nullptr;
    LineStatus* lines = nullptr;
    Dialing* dialing = nullptr;
    CallEnd* callEnd = nullptr;
    CallLog* callLog = nullptr;
    Recording* recording = nullptr;
    PbxPage* pbxPage = nullptr;
    WavePlayback* wavePlayback = nullptr;
    MessageDrop* messageDrop = nullptr;
    Automation* automation = nullptr;
    ClickToDial* clickToDial = nullptr;
    Chat* chat = nullptr;
    Monitoring* monitoring = nullptr;
    CrmPopup* crmPopup = nullptr;
    MidCall* midCall = nullptr;
    IncomingCalls* incoming = nullptr;
    VoiceMail* voiceMail = nullptr;
    HttpControl* httpControl = nullptr;
    LiveCalls* liveCalls = nullptr;
};

struct WindowContext {
    QMainWindow* window = nullptr;
    Ui::MainForm* ui = nullptr;
    // The PBX page view named WebBrowser1 inside WebBrowser1Host, once the page was first shown: a
    // QWebEngineView when the web engine is there (CORVID_WITH_WEBENGINE), otherwise a QLabel
    // showing the page's link.
    QWidget* WebBrowser1 = nullptr;
    SipEngine* engine = nullptr;
    InstallRoot root;
    Services services;
    WindowState state;
    WindowTimers timers;
    Subsystems subsystems;
};

} // namespace corvid
