#pragma once
// Agent monitoring: a supervisor reaches another agent's call through the PBX's feature codes,
// placed as an ordinary call on the current line. Three ways in: a double-click on the monitor list
// (listen "199" or, with " Corvid" ticked, coach "198"); the DDEListen and DDECorvid buttons, which
// take the extension from corvidDDEtxt, a text box meant for other programs (DdeBus lets them set
// it and press the buttons over D-Bus); and a click on the agent list, which calls "*33" + the
// entry's extension on line 2. Also the File menu's "Edit Agent List" and "Refresh Agent List".
//
// Starting a monitoring call first ends the call on the current line: a customer's call through the
// agent's hang-up (its recording and its row), an earlier monitoring call through the monitor
// panel's hang-up (which saves a monitoring recording) and then its row. MonitorTarget names the new
// target before the monitor panel's hang-up writes its status line. Presses over D-Bus are refused
// while a customer's call is up on the current line (DdeBus).

#include <QObject>
#include <QString>

class QListWidgetItem;

namespace corvid {

struct WindowContext;
class DdeBus;

class Monitoring : public QObject {
    Q_OBJECT
public:
    explicit Monitoring(WindowContext& ctx, QObject* parent = nullptr);
    ~Monitoring() override;

    static constexpr int MonitorWaitMs = 500;  // after the monitor hang-up
    static constexpr int AgentCallWaitMs = 50; // after the agent-list hang-up

    // The DDE buttons' action with code (ListenCode or CoachCode): ends the current call, waits,
    // places code + MonitorTarget. Answers the engine's message when the call could not be placed
    // (empty when it was); showErrors shows it in a box as well, as a click does. Both DDE buttons
    // are disabled for the time of the action. A press of another program (spareCustomerCall)
    // never ends a customer's call: it answers CallUpRefusal when one is up on the current line as
    // the action starts, or when one was placed there during its wait.
    QString runDdeMonitoring(const QString& code, bool showErrors, bool spareCustomerCall = false);
    // Whether a DDE button can be pressed now (not disabled by a running action).
    bool ddeButtonsEnabled() const;
    // Whether the current line holds a call up that is not a monitoring call placed here.
    bool customerCallUp() const;

    // Empties the agent list when asked, then adds the fields of bin/agentlist.txt (at most 49).
    void loadAgentList(bool emptyFirst);

    // Handlers.
    void onMonListItemDoubleClicked(QListWidgetItem* item);
    void onDDEListenClicked();
    void onDDECorvidClicked();
    void onAgentListItemClicked(QListWidgetItem* item);
    void onCtPush2Clicked(); // the monitor panel's "Hang Up", after the recording's handler
    void onEalCmdTriggered();
    void onRalCmdTriggered();

private:
    // Steps shared by the monitor list and the DDE buttons: MonitorTarget from source, the monitor
    // hang-up, the wait, then code + MonitorTarget on the current line. An empty code is chosen
    // after the wait from " Corvid". Answers the engine's message when the call was not placed.
    QString monitor(const QString& source, const QString& code, bool stopWhenEmpty, bool showErrors,
                    bool spareCustomerCall = false);
    QString placeCall(int line, const QString& number, bool showErrors);
    bool isMonitoringCall(int line) const;
    // The agent's hang-up of the line's call, when it has one, with line chosen again afterwards.
    // False when the window went away meanwhile.
    bool hangUp(int line);

    WindowContext& ctx;
    quint64 m_monitoringCall = 0; // the line record id of the last monitoring call placed
    DdeBus* m_bus = nullptr;
};

} // namespace corvid
