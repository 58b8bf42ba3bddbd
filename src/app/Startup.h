#pragma once
// The window load: fills the account and option fields from the settings, the agent and monitor
// lists, the title; the clock tick; and, until the PBX page takes it over, the start-up decision
// of the first webtimer tick.

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
    void onWebtimerTimeout();

    // "Corvid Software", 14 blanks, "Customer Number - ", the number, 25 blanks, "Ver. ", the version.
    static QString windowTitle(const QString& customerNumber, const QString& version);
    // The title with customernumber as the settings hold it now.
    void setWindowTitleFromSettings();
    // The clock field's text: "hh:mm AM/PM", 12-hour with two digits.
    static QString clockText(const QTime& time);

private:
    WindowContext& m_ctx;
};

} // namespace corvid
