#pragma once
// Calls coming in. Do-not-disturb and call forwarding are the engine's states, set only by the
// agent's clicks; they are not sent again on going online, and the boxes do not read them back.
//
// With TakeIncomingCalls off (the default) every call that reaches the window and is not to be
// answered by itself is declined at once with 486 Busy Here, so the PBX can send it elsewhere;
// nothing shows. With it "True" the
// incoming-call panel is alive: a ringing call is listed (its caller ID cleaned), rings, opens the
// panel and, while the window is not active, shows a desktop notification. "Answer" takes the
// selected call on the line chosen in ComboIncomingCall when that line is free; the call is then the
// line's call like a placed one (the current line, the number field, the call timer, recordAll, the
// row at its end with the result "incoming"). "Reject" declines it (486, or 603 with RejectCode).
// A call that rings while another is up rings on as a waiting call, announced by a short tone. A
// call that rings out or that its caller gives up writes a row with the result "missed".
//
// AutoAnswer "PbxRequested" answers, after the seconds it names and with a short tone, a call the
// PBX (the registrar or outbound proxy, as the engine judges) asked to have answered; "Always"
// answers every call at once. Never while a call is up or do-not-disturb is ticked.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include "phone/EngineErrors.h"

class QTimer;

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

    // Engine events.
    void onIncomingCall(const QString& callId, const QString& line, const QString& number, const QString& name,
                        const QString& called);
    void onIncomingCallEnded(const QString& callId);

    // Answer and Reject as another program asks for them: the selected ringing call, else the one
    // that rang first. Answers the journal's outcome; ok tells whether it was done. A refusal goes to
    // the status log.
    QString answer(Asker asker, bool* ok = nullptr);
    QString reject(Asker asker, bool* ok = nullptr);

    struct RingingCall {
        QString id;
        QString number;
        QString name;
    };
    // The calls that ring now, in the list's order.
    QList<RingingCall> ringingCalls() const;

Q_SIGNALS:
    // A call started ringing ("ringing") or stopped: "answered" (line is where), "rejected", "missed".
    void ringingChanged(const QString& callId, const QString& number, const QString& name, const QString& state,
                        int line);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Sets the forwarding box without running its handler again.
    void setForwardBox(bool checked);
    // The call identifier of the selected incoming call; empty when none is selected.
    QString selectedCallId() const;
    // The selected call, else the first listed; empty when none rings.
    QString chosenCallId() const;
    QString answerCall(const QString& callId, int line, Asker asker, bool* ok);
    // A refusal: a box for the agent, the status log for a program.
    void refuse(Asker asker, const QString& why);
    void dropEntry(const QString& callId);
    bool lineBusy(int line) const;
    bool anyCallUp() const;
    int freeLine() const;
    void showPanel();
    void addStatusLog(const QString& text);

    struct Ringing {
        QString number;
        QString name;
        QPointer<QTimer> autoAnswer;
    };
    WindowContext& ctx;
    QHash<QString, Ringing> m_ringing;
};

} // namespace corvid
