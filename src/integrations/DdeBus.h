#pragma once
// The DDE box and buttons on the session bus, so that another desktop program can set the text of
// corvidDDEtxt and press DDEListen or DDECorvid (docs/DBUS.md):
//
//   service   org.corviddialer.Dialer
//   object    /Dde
//   interface org.corviddialer.Dde
//     SetText(s text)      the box's text, as typed (longer than the box holds: InvalidArgs)
//     Text() -> s          the box's text
//     DDEListen()          presses DDEListen: listen to the extension in the box ("199")
//     DDECorvid()          presses DDECorvid: coach the extension in the box ("198")
//     Answer() -> s        answers the ringing call, as "#answer" does; the journal's outcome
//     Reject() -> s        refuses it, as "#reject" does; the journal's outcome
//     PauseRecording() -> s   pauses the recording of the current line's call (card payments)
//     ResumeRecording() -> s  resumes it
//
// The recording requests go into the dial automation as its channel "dbus" (the journal, the
// pacing): the answer is the outcome the journal got, or org.corviddialer.Error.Refused carrying
// it when no recorded call is up.
//
// A press never opens a box in the window and never waits for the agent: it answers as soon as the
// monitoring call is placed (after the button's half-second wait), or with the error
// org.corviddialer.Error.Engine carrying the message the window would have shown, or at once with
// org.corviddialer.Error.Busy while the buttons are still busy with an earlier press. The bus keeps
// serving other callers during the wait.
//
// Without a session bus (or with the name already taken) the dialer runs without this service.

#include <QDBusContext>
#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;

namespace corvid {

class Automation;
class Monitoring;

inline constexpr char DdeServiceName[] = "org.corviddialer.Dialer";
inline constexpr char DdeObjectPath[] = "/Dde";
inline constexpr char DdeInterfaceName[] = "org.corviddialer.Dde";
inline constexpr char DdeEngineError[] = "org.corviddialer.Error.Engine";
inline constexpr char DdeBusyError[] = "org.corviddialer.Error.Busy";
inline constexpr char DdeRefusedError[] = "org.corviddialer.Error.Refused";
// The busy answer to a press while the agent's call with a customer is up on the current line.
inline const QString CallUpRefusal = QStringLiteral("A call is up on the current line; the agent hangs it up first.");

class DdeBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corviddialer.Dde")
public:
    // Registers the object and the service name on the session bus; nullptr (nothing registered)
    // when there is no session bus or another program holds the name.
    static DdeBus* startOnSessionBus(Monitoring& monitoring, QLineEdit& text, QObject* parent);
    ~DdeBus() override;
    // Where the recording requests go; without it they are refused.
    void setAutomation(Automation* automation) { m_automation = automation; }

    // Answer and Reject go to submit (true: answer), which calls done with the request's outcome.
    using IncomingRequest = std::function<void(bool answer, std::function<void(const QString& outcome)> done)>;
    void setIncomingRequests(IncomingRequest submit) { m_incoming = std::move(submit); }

public Q_SLOTS:
    void SetText(const QString& text);
    QString Text() const;
    void DDEListen();
    void DDECorvid();
    QString Answer();
    QString Reject();
    QString PauseRecording();
    QString ResumeRecording();

private:
    QString recordingRequest(bool pause);
    DdeBus(Monitoring& monitoring, QLineEdit& text, QObject* parent);
    void press(const QString& code);
    QString incoming(bool answer);

    Monitoring& m_monitoring;
    QLineEdit& m_text;
    bool m_serviceRegistered = false;
    bool m_pressPending = false; // a press over the bus is waiting to run or running
    IncomingRequest m_incoming;
    Automation* m_automation = nullptr;
};

} // namespace corvid
