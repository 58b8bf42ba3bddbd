#pragma once
// The answering-machine message drop: "PAM" hands the call on the transfer line to the PBX's
// message service ("*55" + the agent's user name) and moves on; "LIS" calls that service to hear
// the recorded message; the three message buttons play a pre-recorded message into the playback
// line, and stop pauses it. The engine's PlayWaveDone is logged here.
//
// A drop is logged only when it happened: its call-log row ("Answering Machine", with the number
// of the call on that line) is written when the far end accepts the transfer. A far end that
// refuses it, or does not answer within the answer timeout, leaves the call with the agent: no
// row, and the status log says the drop failed. PAM stays disabled while a drop waits.

#include "phone/EngineErrors.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;

namespace corvid {

struct WindowContext;

class MessageDrop : public QObject {
    Q_OBJECT
public:
    static constexpr int BeforePlayWaitMs = 250;
    // How long a drop waits for the far end's answer to the transfer.
    static constexpr int AnswerTimeoutMs = 15000;

    explicit MessageDrop(WindowContext& ctx, QObject* parent = nullptr);

    // "*55" + the trimmed user name.
    QString messageServiceNumber() const;

    // "PAM".
    bool onPlayMsgPushClicked() { return drop(Asker::Agent); }
    // The drop, also the clipboard command "#pam". Answers whether the transfer was sent; its
    // outcome follows with dropSettled. A refused transfer shows the engine's error (the agent's
    // click) or writes it to the status log (a program's request), and logs no drop: the call is
    // still on the line. While a drop waits for its answer nothing is sent.
    bool drop(Asker asker);
    bool isWaiting() const { return m_waiting.has_value(); }
    // The dialer closes: a drop still waiting is given up as failed, with no row. The call is then
    // ended by the close with its own row.
    void giveUp(const QString& why);
    void setAnswerTimeoutMs(int ms);

    // "LIS"
    void onLamPushClicked();
    // The message buttons: open slot n on the playback line, wait, start playing.
    void playMessage(int n);
    void onStopPlayPushClicked();
    void onPlayWaveDone(int line);

    // Engine events of the transfer.
    void onTransferAccepted(int line);
    // target: empty when the far end refused the transfer, else the number it was handed to, whose
    // call then failed with statusCode and reason (the PBX's answer, as the far end reports it).
    void onTransferFailed(int line, int statusCode, const QString& reason, const QString& target);

Q_SIGNALS:
    // A drop that was sent on line has its outcome: accepted, or failed and why.
    void dropSettled(int line, bool accepted, const QString& why);

private:
    struct Waiting {
        int line = -1;
        quint64 call = 0; // the line's call when the transfer was sent
        QString number;   // that call's number
    };
    void fail(const QString& why);
    // Ends the wait: the button is enabled again; answers what waited.
    Waiting settle();

    WindowContext& ctx;
    std::optional<Waiting> m_waiting;
    QTimer* m_answerTimer = nullptr;
};

} // namespace corvid
