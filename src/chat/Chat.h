#pragma once
// The chat panel: the users offered for chat (root/bin/chatusers.txt, edited by the agent), the
// contact shown with its presence, the messages sent and received, the agent's own status, the
// "IM" button that signals a new message, and the day's chat log (root/logs/chat_log_DDMMYY.txt).
// The engine carries the messages and the presence; its two chat events are handled here.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

class Chat : public QObject {
    Q_OBJECT
public:
    explicit Chat(WindowContext& ctx, QObject* parent = nullptr);

    // Opening or closing the panel reloads the users file and empties the contact list.
    void onMonCheckToggled(bool checked);
    void onIMCapClicked();
    // A users-file entry picked: its user becomes the one to send to and the contact.
    void onChatUserNameActivated(int index);
    void onBtnAddChatContactClicked();
    void onBtnRemoveChatContactClicked();
    // "Send", or Enter in the message box.
    void onBtnSendChatMsgClicked();
    void onComboMyChatStatusActivated(int index);
    // "Clear": the message and contact lists; the engine keeps its contacts.
    void onCommand2Clicked();
    // Opens the users file in the desktop's text editor.
    void onCommand3Clicked();

    // Engine events.
    void onChatMessageReceived(const QString& userName, const QString& text, const QString& contentType);
    void onChatContactStatus(const QString& userName, int status);

    // root/bin/chatusers.txt
    QString chatUsersPath() const;

private:
    void writeChatLog(const QString& line);

    WindowContext& ctx;
};

} // namespace corvid
