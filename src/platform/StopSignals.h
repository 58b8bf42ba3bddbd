#pragma once
// A stop asked of the process from outside (SIGTERM from a service manager or a logging-out
// session, SIGHUP from a closing terminal, SIGINT from Ctrl+C) becomes a Qt signal on the GUI
// thread, so the program can run its own close sequence instead of dying mid-call and losing the
// call's row and recording. Without a handler the process would simply end.

#include <QObject>

class QSocketNotifier;

namespace corvid {

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Catches the signals for as long as the object lives (one object per process).
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

Q_SIGNALS:
    void stopRequested();

private:
    void onReadable();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace corvid
