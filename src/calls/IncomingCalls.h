#pragma once
// What the dialer offers for calls coming in: it answers none of them itself. The agent switches
// do-not-disturb and call forwarding at the engine; the engine's incoming-call event is left
// unconnected, so an incoming call changes nothing on the window. The incoming-call panel's list
// is filled by nothing in this system, so "Answer" and "Reject" find no entry to act on.
//
// Do-not-disturb and forwarding are the engine's states, set only by the agent's clicks; they are
// not sent again on going online, and the boxes do not read them back.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

namespace forwarding {
inline const QString NoNumberMessage = QStringLiteral("Please enter a phone number.");
inline const QString UpdateSoftwareMessage = QStringLiteral("You must update your software.");
} // namespace forwarding

class IncomingCalls : public QObject {
    Q_OBJECT
public:
    explicit IncomingCalls(WindowContext& ctx, QObject* parent = nullptr);

    // "Do Not Disturb": DndOn when ticked, DndOff when unticked; nothing is reported.
    void onCheckDisturbToggled(bool checked);
    // A click on the forwarding number (or leaving it after an edit): the text without blanks
    // around it becomes setting Forward; the field keeps the text as typed.
    void onEditForwardCallPhoneNoClicked();
    // "Enable": forwarding on or off at the engine, to the field's text as typed.
    void onCheckForwardCallToggled(bool checked);
    // "Answer" and "Reject": act on the selected entry of the incoming-call list only.
    void onBtnAcceptClicked();
    void onBtnRejectClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Sets the forwarding box without running its handler again.
    void setForwardBox(bool checked);
    // The call identifier of the selected incoming call; empty when none is selected.
    QString selectedCallId() const;

    WindowContext& ctx;
};

} // namespace corvid
