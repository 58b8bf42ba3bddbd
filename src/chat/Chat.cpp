#include "chat/Chat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>

#include "window/WindowContext.h"
#include "window/WindowSize.h"
#include "chat/ChatRules.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "phone/EngineErrors.h"
#include "platform/Twips.h"
#include "settings/ListFile.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {
// The numbers the window passes with every message; their meaning is the engine's.
constexpr int kSendKind = 101;
constexpr int kSendFlags = 0;
} // namespace

Chat::Chat(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    Ui::MainForm* ui = ctx.ui;
    connect(ui->MonCheck, &QCheckBox::toggled, this, &Chat::onMonCheckToggled);
    connect(ui->IMCap, &QPushButton::clicked, this, &Chat::onIMCapClicked);
    connect(ui->ChatUserName, &QComboBox::activated, this, &Chat::onChatUserNameActivated);
    connect(ui->BtnAddChatContact, &QPushButton::clicked, this, &Chat::onBtnAddChatContactClicked);
    connect(ui->BtnRemoveChatContact, &QPushButton::clicked, this, &Chat::onBtnRemoveChatContactClicked);
    connect(ui->BtnSendChatMsg, &QPushButton::clicked, this, &Chat::onBtnSendChatMsgClicked);
    connect(ui->EditSendChatMsg, &QLineEdit::returnPressed, this, &Chat::onBtnSendChatMsgClicked);
    connect(ui->ComboMyChatStatus, &QComboBox::activated, this, &Chat::onComboMyChatStatusActivated);
    connect(ui->Command2, &QPushButton::clicked, this, &Chat::onCommand2Clicked);
    connect(ui->Command3, &QPushButton::clicked, this, &Chat::onCommand3Clicked);
    if (SipEngine* engine = ctx.engine) {
        connect(engine, &SipEngine::ChatMessageReceived, this, &Chat::onChatMessageReceived);
        connect(engine, &SipEngine::ChatContactStatus, this, &Chat::onChatContactStatus);
    }

    // The agent's own status is sent only when the agent picks one; until then none is shown.
    ui->ComboMyChatStatus->addItems(ownStatusEntries());
    ui->ComboMyChatStatus->setCurrentIndex(-1);
}

QString Chat::chatUsersPath() const {
    return ctx.root.binFile(QStringLiteral("chatusers.txt"));
}

void Chat::onMonCheckToggled(bool checked) {
    Ui::MainForm* ui = ctx.ui;
    ui->IMCap->hide();
    ui->ChatUserName->clear();
    ui->ListChatContact->clear();
    ui->EditSendChatUserName->clear();
    ui->ListChatContact->show();
    if (checked && ctx.window)
        ctx.window->resize(twipsToPixels(kExpandedWidthTwips), twipsToPixels(kWindowHeightTwips));
    // A missing or unreadable users file adds nothing.
    ui->ChatUserName->addItems(readListFile(chatUsersPath(), ChatUsersMaxFields));
    ui->ChatUserName->setCurrentIndex(-1);
    if (checked) {
        ui->Frame2->show();
        ui->RightPages->setCurrentWidget(ui->PageChat);
    } else {
        ui->Frame2->hide();
    }
}

void Chat::onIMCapClicked() {
    ctx.ui->MonCheck->setChecked(true);
}

void Chat::onChatUserNameActivated(int index) {
    Ui::MainForm* ui = ctx.ui;
    const QString user = chatUserOfEntry(ui->ChatUserName->itemText(index));
    if (user.isEmpty()) return;
    ui->EditSendChatUserName->setText(user);
    ui->EditChatContact->setText(user);
    onBtnAddChatContactClicked();
}

void Chat::onBtnAddChatContactClicked() {
    Ui::MainForm* ui = ctx.ui;
    ui->ListChatContact->clear();
    const QString user = ui->EditChatContact->text();
    if (!ctx.engine || !ctx.engine->ChatAddContact(user)) {
        ShowEngineError(ctx);
        return;
    }
    ui->ListChatContact->addItem(user);
    if (ui->ListChatContact->currentRow() < 0) ui->ListChatContact->setCurrentRow(0);
    ui->EditChatContact->clear();
}

void Chat::onBtnRemoveChatContactClicked() {
    QListWidget* list = ctx.ui->ListChatContact;
    QListWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected()) return;
    if (!ctx.engine || !ctx.engine->ChatRemoveContact(item->text())) {
        ShowEngineError(ctx);
        return;
    }
    delete list->takeItem(list->row(item));
}

void Chat::onBtnSendChatMsgClicked() {
    Ui::MainForm* ui = ctx.ui;
    const QString stamp = chatStamp(ctx.services.clock->now());
    const QString logPath = ctx.subsystems.callLog->chatLogPath();
    const QString user = ui->EditSendChatUserName->text();
    if (user.isEmpty()) return;
    const QString message = ui->EditSendChatMsg->text();
    if (!ctx.engine || !ctx.engine->ChatSendMessage(user, message, kSendKind, kSendFlags)) {
        ShowEngineError(ctx); // the message stays in the box
        return;
    }
    ui->ListChatMsg->addItem(QStringLiteral("Me: ") + message);
    ctx.subsystems.callLog->writeIMFile(logPath, chatLineSent(chatLogText(message), stamp));
    ui->EditSendChatMsg->clear();
}

void Chat::onComboMyChatStatusActivated(int index) {
    if (index < 0) return;
    if (!ctx.engine || !ctx.engine->ChatSetStatus(index)) ShowEngineError(ctx);
}

void Chat::onCommand2Clicked() {
    ctx.ui->ListChatMsg->clear();
    ctx.ui->ListChatContact->clear();
}

void Chat::onCommand3Clicked() {
    if (ctx.services.desktop) ctx.services.desktop->openInTextEditor(chatUsersPath());
}

void Chat::onChatMessageReceived(const QString& userName, const QString& text, const QString& contentType) {
    Ui::MainForm* ui = ctx.ui;
    const QString stamp = chatStamp(ctx.services.clock->now());
    const QString logPath = ctx.subsystems.callLog->chatLogPath();
    ui->IMCap->show();
    // A list item is plain text: nothing a sender writes is rendered (no links, images or styles).
    ui->ListChatMsg->addItem(userName + QStringLiteral(": ") + shownChatText(text, contentType));
    // The day's log is the record: every message gets its line, as it came (markup included), and
    // neither the sender's name nor the text can break that line or forge another.
    ctx.subsystems.callLog->writeIMFile(logPath, chatLineReceived(chatLogText(userName), chatLogText(text), stamp));
}

void Chat::onChatContactStatus(const QString& userName, int status) {
    QListWidget* list = ctx.ui->ListChatContact;
    const int count = list->count();
    for (int row = 0; row < count; ++row) {
        QListWidgetItem* item = list->item(row);
        if (item && contactEntryIsFor(item->text(), userName)) item->setText(contactEntryWithStatus(userName, status));
    }
}

} // namespace corvid
