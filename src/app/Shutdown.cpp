#include "app/Shutdown.h"

#include <QComboBox>
#include <QPointer>

#include "window/WindowContext.h"
#include "calls/CallEnd.h"
#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "dialer/MessageDrop.h"
#include "phone/RingTone.h"
#include "platform/Delay.h"
#include "platform/ForceQuit.h"
#include "ui_MainForm.h"

namespace corvid {

Shutdown::Shutdown(WindowContext& ctx, QObject* parent)
    : QObject(parent), m_ctx(ctx), m_forceQuit([] { ForceQuit(0); }) {
    connect(m_ctx.ui->exitcmd, &QAction::triggered, this, &Shutdown::onExitcmdTriggered);
    // Queued: the sequence starts from the event loop, after the call end's handler has returned.
    if (LineStatus* lines = m_ctx.subsystems.lines)
        connect(lines, &LineStatus::callEndsFinished, this, &Shutdown::onCallEndsFinished, Qt::QueuedConnection);
}

void Shutdown::onExitcmdTriggered() {
    run();
}

void Shutdown::onCallEndsFinished() {
    if (m_pending) run();
}

void Shutdown::run() {
    if (m_running) return;
    // Ending the process from inside a waiting call end would lose that call's row.
    if (LineStatus* lines = m_ctx.subsystems.lines; lines && lines->anyCallEnding()) {
        m_pending = true;
        return;
    }
    m_pending = false;
    m_running = true;
    QPointer<Shutdown> alive(this);
    StopRingWave(m_ctx);
    // A message drop still waiting for the far end's answer is given up (no drop row; its call is
    // hung up below with its own row), and other programs' requests stop here, each one taken
    // journaled.
    if (MessageDrop* drop = m_ctx.subsystems.messageDrop)
        drop->giveUp(QStringLiteral("the dialer closed before the transfer was answered"));
    if (Automation* automation = m_ctx.subsystems.automation) automation->stop();
    hangUpLiveCalls();
    if (!alive) return;
    // The online button takes the phone offline while it is online (caption "Offline"). Offline
    // it would go online, so it is only run while online.
    if (m_ctx.ui->BtnOnline->text() == QLatin1String("Offline")) m_ctx.ui->BtnOnline->click();
    msDelay(1000);
    if (!alive) return;
    if (m_ctx.engine) m_ctx.engine->EngineStop();
    m_forceQuit();
    m_running = false;
}

// Going offline would drop the calls without a row: each line still in a call is hung up first,
// through the agent's hang-up on that line.
void Shutdown::hangUpLiveCalls() {
    if (CallEnd* callEnd = m_ctx.subsystems.callEnd) callEnd->hangUpLiveCalls();
}

} // namespace corvid
