#pragma once
// The agent's manual telephone: the Call action (also run by redial and by the dial automation),
// redial, the dial pad whose keys extend the number and send DTMF on the current line, and the
// mailbox key.

#include <QObject>
#include <QString>

#include "phone/EngineErrors.h"

class QPushButton;

namespace corvid {

struct WindowContext;

class Dialing : public QObject {
    Q_OBJECT
public:
    explicit Dialing(WindowContext& ctx, QObject* parent = nullptr);

    // The Call action: places a call to the number field on the line selected in ComboDial.
    // Answers whether the engine took the call. The agent's click shows a refusal in a box; a
    // program's request writes it to the status log ("Line- 1: Not dialled - <number>: <why>").
    bool onBtnDialClicked() { return placeCall(Asker::Agent); }
    bool placeCall(Asker asker);
    // Every call the dialer places starts here: dialString goes to the engine on line with the
    // devices chosen in the audio lists. When the engine takes it, it is the line's new call, whose
    // call-log row names number, and the call-seconds counter starts from 0. False when the engine
    // refused: nothing is noted, and the caller reports the refusal.
    bool placeCall(int line, const QString& dialString, const QString& number);
    // Dials the LastNumber setting again.
    void onRedialPushClicked();
    // "Box#": the mailbox code, one digit at a time.
    void onCommand1Clicked();

    // The dial pad.
    void onBtnDialPad0Clicked();
    void onBtnDialPad1Clicked(); // "Corvid": a 2
    void onBtnDialPad2Clicked();
    void onBtnDialPad3Clicked(); // "Barge In": a 3
    void onBtnDialPad4Clicked();
    void onBtnDialPad5Clicked();
    void onBtnDialPad6Clicked();
    void onBtnDialPad7Clicked();
    void onBtnDialPad8Clicked();
    void onBtnDialPad9Clicked();
    void onBtnDialPadStarClicked();
    void onBtnDialPadNoClicked(); // "#": sent, never added to the number
    void onAbctxtClicked();
    void onCtText1Clicked();
    void onCtText2Clicked();
    void onCtText3Clicked();
    void onCtText4Clicked();
    void onCtText5Clicked();
    void onCtText6Clicked();
    void onCtText7Clicked();
    void onCtText8Clicked();

private:
    // One key of the dial pad, by its control's name: extends the number field as the key does,
    // then sends its digit on the current line.
    void pressKey(const char* control);
    void sendDigit(const QString& digit);

    WindowContext& ctx;
};

} // namespace corvid
