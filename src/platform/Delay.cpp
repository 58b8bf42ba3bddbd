#include "platform/Delay.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace corvid {

void msDelay(int ms) {
    if (ms <= 0) return;

    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return;
    }

    // The timer measures the interval on a monotonic clock, so the system's uptime never matters.
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    wake.start(ms);
    loop.exec();
}

} // namespace corvid
