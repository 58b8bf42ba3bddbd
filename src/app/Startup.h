#pragma once
// The window load: fills the account and option fields from the settings, the agent and monitor
// lists, the title; and the clock tick. The start-up decision of the first webtimer tick is the PBX
// page's (integrations/PbxPage.h).

#include <QDateTime>
#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

class Startup : public QObject {
    Q_OBJECT
public:
    explicit Startup(WindowContext& ctx, QObject* parent = nullptr);

    // The load sequence. Every step runs even when an earlier one found nothing: a missing
    // settings file gives empty fields, a missing list file an empty list.
    void onFormLoad();
    // webtimer, DialTimer, TapiSip and TimeTimer run from start-up.
    void startDesignTimeTimers();

    void onTimeTimerTimeout();
    // The clock field's text: "hh:mm AM/PM", 12-hour with two digits.
    static QString clockText(const QTime& time);

private:
    WindowContext& m_ctx;
};

// A dialer started again by its watchdog after a failure (how: "Segmentation fault (signal 11)",
// when: as the watchdog saw it) says so in the status log and the automation journal.
void NoteRestartAfterFailure(WindowContext& ctx, const QString& how, const QDateTime& when);

} // namespace corvid
