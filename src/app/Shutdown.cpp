#include "app/Shutdown.h"

#include "app/WindowContext.h"
#include "phone/RingTone.h"
#include "platform/Delay.h"
#include "platform/ForceQuit.h"
#include "ui_MainForm.h"

namespace corvid {

Shutdown::Shutdown(WindowContext& ctx, QObject* parent)
    : QObject(parent), m_ctx(ctx), m_forceQuit([] { ForceQuit(); }) {
    connect(m_ctx.ui->exitcmd, &QAction::triggered, this, &Shutdown::onExitcmdTriggered);
}

void Shutdown::onExitcmdTriggered() {
    run();
}

void Shutdown::run() {
    if (m_running) return;
    m_running = true;
    StopRingWave(m_ctx);
    // The online button takes the phone offline while it is online (caption "Offline"). Offline
    // it would go online, so it is only run while online.
    if (m_ctx.ui->BtnOnline->text() == QLatin1String("Offline")) m_ctx.ui->BtnOnline->click();
    msDelay(1000);
    if (m_ctx.engine) m_ctx.engine->EngineStop();
    m_forceQuit();
    m_running = false;
}

} // namespace corvid
