#include "app/MainForm.h"

#include "app/AccountPanel.h"
#include "app/Panels.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "calls/CallEnd.h"
#include "calls/Dialing.h"
#include "calls/IncomingCalls.h"
#include "calls/LineStatus.h"
#include "calls/LiveCalls.h"
#include "dialer/Automation.h"
#include "chat/Chat.h"
#include "calls/MidCall.h"
#include "calls/VoiceMail.h"
#include "dialer/CallLog.h"
#include "dialer/MessageDrop.h"
#include "integrations/ClickToDial.h"
#include "integrations/CrmPopup.h"
#include "integrations/HttpControl.h"
#include "integrations/Monitoring.h"
#include "integrations/PbxPage.h"
#include "media/Recording.h"
#include "media/WavePlayback.h"
#include "phone/AudioControls.h"
#include "phone/OnlineControl.h"
#include "ui_MainForm.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace corvid {

namespace {

QTimer* makeTimer(QObject* owner, const char* name, int intervalMs, bool singleShot,
                  Qt::TimerType type = Qt::CoarseTimer) {
    auto* timer = new QTimer(owner);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(intervalMs);
    timer->setSingleShot(singleShot);
    timer->setTimerType(type);
    return timer;
}

} // namespace

MainForm::MainForm(const InstallRoot& root, const Services& services, SipEngine* engine, QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::MainForm>()) {
    m_ui->setupUi(this);
    createWebBrowser();
    m_ctx.timers = createTimers(this);

    m_ctx.window = this;
    m_ctx.ui = m_ui.get();
    m_ctx.engine = engine;
    m_ctx.root = root;
    m_ctx.services = services;
    m_ctx.state.settingsPath = root.settingsFile();

    // Subsystems: each connects its own controls in its constructor.
    m_ctx.subsystems.lines = new LineStatus(m_ctx, this);
    m_ctx.subsystems.dialing = new Dialing(m_ctx, this);
    m_ctx.subsystems.callEnd = new CallEnd(m_ctx, this);
    m_ctx.subsystems.callLog = new CallLog(m_ctx, this);
    m_ctx.subsystems.recording = new Recording(m_ctx, this);
    m_ctx.subsystems.chat = new Chat(m_ctx, this);
    m_ctx.subsystems.midCall = new MidCall(m_ctx, this);
    m_ctx.subsystems.incoming = new IncomingCalls(m_ctx, this);
    m_ctx.subsystems.voiceMail = new VoiceMail(m_ctx, this);
    m_ctx.subsystems.audio = new AudioControls(m_ctx, this);
    m_ctx.subsystems.online = new OnlineControl(m_ctx, this);
    m_ctx.subsystems.wavePlayback = new WavePlayback(m_ctx, this);
    m_ctx.subsystems.messageDrop = new MessageDrop(m_ctx, this);
    m_ctx.subsystems.automation = new Automation(m_ctx, this);
    m_ctx.subsystems.clickToDial = new ClickToDial(m_ctx, this);
    m_ctx.subsystems.pbxPage = new PbxPage(m_ctx, this); // before Startup: the start-up tick is the page's
    m_ctx.subsystems.monitoring = new Monitoring(m_ctx, this);
    m_ctx.subsystems.crmPopup = new CrmPopup(m_ctx, this);
    m_ctx.subsystems.httpControl = new HttpControl(m_ctx, this); // after the automation and the call log
    m_ctx.subsystems.liveCalls = new LiveCalls(m_ctx, this);
    m_panels = new Panels(m_ctx, this);
    m_accountPanel = new AccountPanel(m_ctx, this);
    m_shutdown = new Shutdown(m_ctx, this);
    m_startup = new Startup(m_ctx, this);

    // Calls a killed dialer left get their rows and recordings before anything goes online.
    m_ctx.subsystems.liveCalls->recoverInterrupted();
    // The window load: fill the fields, then the design-time timers run.
    m_startup->onFormLoad();
    m_startup->startDesignTimeTimers();
}

MainForm::~MainForm() {
    // The widgets are torn down after the context the subsystems read: a signal a widget sends while
    // it goes (the status log's model is reset) must not reach a subsystem then.
    if (m_ctx.subsystems.lines) m_ui->ListStatusLog->model()->disconnect(m_ctx.subsystems.lines);
}

void MainForm::closeEvent(QCloseEvent* event) {
    // The shutdown sequence ends the process. Until it does (it may first wait for a call end to
    // finish) the window stays: closing it would end the event loops that call end waits in.
    event->ignore();
    m_shutdown->run();
}

WindowTimers MainForm::createTimers(QObject* owner) {
    WindowTimers t;
    t.webtimer = makeTimer(owner, "webtimer", 2000, true);
    t.OnLineTimer = makeTimer(owner, "OnLineTimer", 1000, true);
    t.TapiSip = makeTimer(owner, "TapiSip", 500, false);
    t.DialTimer = makeTimer(owner, "DialTimer", 500, false);
    t.TimerTick = makeTimer(owner, "TimerTick", 1000, false);
    // The level bars move ten times a second in a call: enough for an eye, a fifth of the repaints.
    t.TimerProgressBar = makeTimer(owner, "TimerProgressBar", 100, false);
    t.CallTimer = makeTimer(owner, "CallTimer", 1000, false);
    t.logCleanTimer = makeTimer(owner, "logCleanTimer", 500, true);
    t.TimeTimer = makeTimer(owner, "TimeTimer", 1000, false);
    return t;
}

// The PBX page of active extensions goes into WebBrowser1Host; PbxPage creates it when the page is
// first shown (the embedded browser's libraries load only then).
void MainForm::createWebBrowser() {
    QWidget* host = m_ui->WebBrowser1Host;
    if (!qobject_cast<QVBoxLayout*>(host->layout())) new QVBoxLayout(host);
}

} // namespace corvid
