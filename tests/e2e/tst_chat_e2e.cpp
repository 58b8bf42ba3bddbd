// Two real windows on real engines chat through the loopback PBX: each picks the other from its
// users file (the second while the first already watches it, and again after both removed), sees
// the other's chosen status on its contact list, and the messages arrive with their chat-log lines;
// a message the engine refuses (64 KB) is reported and kept.

#include "dialer/LogRecords.h"
#include "support/BedWindow.h"

#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kEventMs = 10000;

struct ChatPhone : BedWindow {
    QStringList items(const QListWidget* list) const {
        QStringList texts;
        for (int row = 0; row < list->count(); ++row)
            texts << list->item(row)->text();
        return texts;
    }
    QStringList contacts() const { return items(ui().ListChatContact); }
    QStringList messages() const { return items(ui().ListChatMsg); }
    QByteArray chatLog() const {
        return fixture.readFile(QStringLiteral("logs/") + chatLogFileName(fixture.fakes.clock.now().date()));
    }
    QString stamp() const { return chatStamp(fixture.fakes.clock.now()); }
    void send(const QString& text) {
        ui().EditSendChatMsg->setText(text);
        QTest::keyClick(ui().EditSendChatMsg, Qt::Key_Return);
    }
};

} // namespace

class TestChatE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;

    // A window for account whose users file offers peer; start-up takes it online by itself.
    std::unique_ptr<ChatPhone> startPhone(const BedAccount& account, const BedAccount& peer) {
        auto phone = std::make_unique<ChatPhone>();
        phone->fixture.writeFile(QStringLiteral("bin/chatusers.txt"), peer.user.toUtf8() + " Other Agent\r\n");
        phone->start(*m_run.bed, {account, QStringLiteral("Agent ") + account.user});
        return phone;
    }

    // B picks A only once A sees B's status: B's engine then knows A as a watcher.
    static void pickEachOther(ChatPhone& a, ChatPhone& b) {
        Q_EMIT a.ui().ChatUserName->activated(0);
        QTRY_VERIFY_WITH_TIMEOUT(a.contacts().value(0).startsWith(QStringLiteral("1002 [")), kEventMs);
        Q_EMIT b.ui().ChatUserName->activated(0);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start()); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    void twoAgentsChatAndSeeEachOthersStatus() {
        auto a = startPhone(Account1001, Account1002);
        auto b = startPhone(Account1002, Account1001);
        QVERIFY(a->waitRegistered() && b->waitRegistered());

        // Each opens the panel and picks the other from its users file.
        for (ChatPhone* p : {a.get(), b.get()})
            p->ui().MonCheck->setChecked(true);
        pickEachOther(*a, *b);

        // Each sees the other's chosen status.
        Q_EMIT b->ui().ComboMyChatStatus->activated(2);
        QTRY_COMPARE_WITH_TIMEOUT(a->contacts(), QStringList{QStringLiteral("1002 [Away]")}, kEventMs);
        Q_EMIT a->ui().ComboMyChatStatus->activated(3);
        QTRY_COMPARE_WITH_TIMEOUT(b->contacts(), QStringList{QStringLiteral("1001 [On the phone]")}, kEventMs);

        const QString hello = QStringLiteral("grüße, 1002 – \"quoted\"");
        a->send(hello);
        QTRY_COMPARE_WITH_TIMEOUT(b->messages(), QStringList{QStringLiteral("1001: ") + hello}, kEventMs);
        QCOMPARE(a->chatLog(), (QStringLiteral("Me: ") + hello + '[' + a->stamp() + "]\r\n").toUtf8());
        QCOMPARE(b->chatLog(), (QStringLiteral("1001: ") + hello + '[' + b->stamp() + "]\r\n").toUtf8());

        // An empty message is sent like any other.
        b->send(QString());
        QTRY_COMPARE_WITH_TIMEOUT(a->messages().value(1), QStringLiteral("1002: "), kEventMs);
        QCOMPARE(a->chatLog().count('\n'), 2);

        // 64 KB pasted: the box keeps what it can hold, which is more than the engine sends:
        // reported, kept in the box, not logged.
        const QString big(64 * 1024, QLatin1Char('z'));
        a->send(big);
        QCOMPARE(a->fixture.fakes.messages.texts(), QStringList{QStringLiteral("Provided value is not valid.")});
        QCOMPARE(a->ui().EditSendChatMsg->text(), big.left(a->ui().EditSendChatMsg->maxLength()));
        QCOMPARE(a->chatLog().count('\n'), 2);

        // Both remove each other and add again: each sees the other's status once more.
        for (ChatPhone* p : {a.get(), b.get()}) {
            p->ui().ListChatContact->setCurrentRow(0);
            QTest::mouseClick(p->ui().BtnRemoveChatContact, Qt::LeftButton);
            QVERIFY(p->contacts().isEmpty());
        }
        pickEachOther(*a, *b);
        QTRY_COMPARE_WITH_TIMEOUT(a->contacts(), QStringList{QStringLiteral("1002 [Away]")}, kEventMs);
        QTRY_COMPARE_WITH_TIMEOUT(b->contacts(), QStringList{QStringLiteral("1001 [On the phone]")}, kEventMs);
    }
};

QTEST_MAIN(TestChatE2e)
#include "tst_chat_e2e.moc"
