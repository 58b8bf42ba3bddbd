#pragma once
// The mid-call controls: hold and resume of the current line, the blind transfer of the transfer
// line's call, the call to the transfer target on line 2, the supervised transfer that joins the
// two consult lines, the three-way button, the transfer-number field, and the engine's reports on
// transfers. The engine does the SIP work; this class picks the lines and the number, keeps the
// status log and writes the call-log rows of transfers.
//
// A transfer, join, hold or resume the engine refuses is shown through the engine's error message
// and goes no further: no status line, no call-log row and no TransferMark claim what did not
// happen, and the call keeps its seconds for its own row at its end. A hold or supervised transfer
// with no call says so in the status log.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

// The status-log lines of a hold or a supervised transfer asked for with no call to act on.
inline const QString NoCallToHoldText = QStringLiteral("No call to hold.");
inline const QString NoCallToTransferText = QStringLiteral("No call to transfer.");

class MidCall : public QObject {
    Q_OBJECT
public:
    explicit MidCall(WindowContext& ctx, QObject* parent = nullptr);

    // "Hold": saves the running recording, then holds the current line.
    void onBtnHoldClicked();
    // "UnHold": resumes the current line and starts recording again under recordAll. The
    // supervised transfer and the three-way button run it too. False when the engine refused (its
    // error shown, no "Connected" line).
    bool onBtnUnHoldClicked();
    // "B-Tran": hands the transfer line's call to the pre-dial prefix + the transfer text.
    void onBtnTransferCallClicked();
    // "Call": calls the number part of the transfer text on line 2.
    void onCallTranPushClicked();
    // "S-Tran": resumes line 1 and joins the two consult lines.
    void onBtnConsultTransferClicked();
    // "3-way": resumes line 1 while the call on line 2 goes on.
    void onThreeWayPushClicked();
    // Choosing an entry of the transfer-number list stores it as TransferNumber.
    void onEditTransferPhoneNoActivated(int index);
    // Double-click on the "Transfer Number:" frame: empties the field and TransferNumber.
    void onFrame10DblClick();

    // Engine events.
    void onTransferAccepted(int line);
    void onTransferFailed(int line, int statusCode, const QString& reason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Line 1 chosen and taken off hold, a step wait after each; false when the window went away.
    bool resumeLineOne();
    void addStatusLog(const QString& text);
    // Writes the call-log row of a transfer to number when the agent has a display name; callsec becomes "0".
    void writeTransferRow(const QString& number, const QString& result, int line = -1);

    WindowContext& ctx;
};

} // namespace corvid
