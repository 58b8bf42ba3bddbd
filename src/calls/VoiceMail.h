#pragma once
// The mailbox row: dialling the voice-mail access code, calling the transfer number directly
// (without the pre-dial prefix), listening to the mailbox greeting, and starting the two sibling
// tools for recording the greeting and for messages. The codes are dialled as they are on the
// current line; the tools are started from the install root's apps folder and not watched.

#include <QObject>
#include <QString>

class QPushButton;

namespace corvid {

struct WindowContext;

namespace voicemail {
inline const QString AccessCode = QStringLiteral("*97");
inline const QString GreetingNumber = QStringLiteral("9001");
inline const QString GreetingTool = QStringLiteral("greetrec");
inline const QString MessageTool = QStringLiteral("amplayer");
// A tool's button stays disabled this long, so a double click does not start a second copy.
constexpr int ToolWaitMs = 2500;
} // namespace voicemail

class VoiceMail : public QObject {
    Q_OBJECT
public:
    explicit VoiceMail(WindowContext& ctx, QObject* parent = nullptr);

    // Voice mail: calls "*97"; the button stays disabled until the agent's next hang-up, unless
    // the engine refused the call (then there is no call to hang up and it is enabled again).
    void onVmclickClicked();
    // "INT": calls the number part of the transfer text on the current line, without prefix.
    void onVMCallPushClicked();
    // "LIS GREETING": calls "9001" while setting DID is "True".
    void onListtogreetingCmdClicked();
    // "REC GREETING": starts the greeting recording tool while setting DID is "True".
    void onGreatPushClicked();
    // "REC": starts the message tool.
    void onRecClickClicked();

private:
    bool placeCall(const QString& number, int* line = nullptr);
    bool didEnabled() const;
    void startTool(QPushButton* button, const QString& tool);

    WindowContext& ctx;
};

} // namespace corvid
