// The chat panel on the real window with the fake engine: the users file loaded when the panel
// opens, picking a user, presence on the contact list, receiving with the markup rule, and the
// remaining buttons (sending is exercised between two real phones end to end).

#include "gui/CallsWindow.h"

#include "engine/SipEngine.h"

#include <QtTest>

using namespace corvid;
using corvid::test::MainFormFixture;

namespace {

struct ChatWindow : corvid::test::CallsWindow {
    ChatWindow() { fixture.fakes.clock.set(QDateTime(QDate(2026, 12, 4), QTime(9, 5, 30))); }

    QStringList contacts() const { return MainFormFixture::texts(ui.ListChatContact); }
    QStringList messages() const { return MainFormFixture::texts(ui.ListChatMsg); }
    // The chat log of 4 December 2026, the day of the tests' clock.
    QByteArray chatLog() const { return fixture.readFile(QStringLiteral("logs/chat_log_041226.txt")); }
    void pick(int usersFileEntry) { Q_EMIT ui.ChatUserName->activated(usersFileEntry); }
};

} // namespace

class TestChat : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A users file of 500 lines with quotes and commas: the first 99 fields are offered; picking
    // "ann Sales Desk" makes ann the only contact and the one to send to; an entry without a blank
    // picks no one. Closing the panel hides it and empties the contacts.
    void panelOffersTheUsersFileAndPickingAddsTheContact() {
        ChatWindow w;
        QByteArray users = "ann Sales Desk, \"bob, East Wing\",carl\r\n";
        for (int n = 0; n < 500; ++n)
            users += "user" + QByteArray::number(n) + " \"Desk, " + QByteArray::number(n) + "\"\r\n";
        w.fixture.writeFile(QStringLiteral("bin/chatusers.txt"), users);
        w.ui.MonCheck->setChecked(true);
        QCOMPARE(w.ui.RightPages->currentWidget(), w.ui.PageChat);
        QCOMPARE(w.ui.ChatUserName->count(), 99);

        w.pick(2); // "carl": no blank, nothing happens
        QCOMPARE(w.engine.count(QStringLiteral("ChatAddContact")), 0);
        w.ui.ListChatContact->addItem(QStringLiteral("zoe")); // a contact added before leaves the list
        w.pick(0);
        QCOMPARE(w.engine.last(QStringLiteral("ChatAddContact")), QVariantList{QStringLiteral("ann")});
        QCOMPARE(w.contacts(), QStringList{QStringLiteral("ann")});
        QCOMPARE(w.ui.EditSendChatUserName->text(), QStringLiteral("ann"));

        w.fixture.writeFile(QStringLiteral("bin/chatusers.txt"), "dave Support\r\n");
        w.ui.MonCheck->setChecked(false);
        QVERIFY(!w.ui.Frame2->isVisible());
        QVERIFY(w.contacts().isEmpty());
        QCOMPARE(w.ui.ChatUserName->count(), 1); // reloaded either way
    }

    // Presence matches the contact's exact name without regard to case (a known status between two
    // real phones is followed end to end); an unknown status id shows empty brackets; a name that
    // only contains the user, or an empty user, matches nothing.
    void presenceRewritesTheContactEntry_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("unknown id") << "ann" << "ann" << 7 << "ann []";
        QTest::newRow("other case") << "Ann [Away]" << "ann" << 0 << "ann [Online]";
        QTest::newRow("part of the name") << "1001" << "100" << 4 << "1001";
        QTest::newRow("empty user") << "ann" << "" << 1 << "ann";
    }
    void presenceRewritesTheContactEntry() {
        QFETCH(QString, entry);
        QFETCH(QString, user);
        QFETCH(int, status);
        QFETCH(QString, shown);
        ChatWindow w;
        w.ui.ListChatContact->addItem(entry);
        w.engine.fire(&SipEngine::ChatContactStatus, user, status);
        QTest::qWait(0);
        QCOMPARE(w.contacts(), QStringList{shown});
    }

    // A received message is shown with the markup rule only when it is markup (its content type
    // after "|"), plain text exactly, and always logged as it came; line breaks in the text or the sender's
    // name cannot forge a second log line; "IM" opens the panel and hides itself.
    void receivingShowsAndLogs_data() {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("logged"); // without stamp and line end
        QTest::newRow("> in plain text") << "ann"
                                         << "price a < b and c > d ok"
                                         << "ann: price a < b and c > d ok"
                                         << QByteArray("ann: price a < b and c > d ok");
        QTest::newRow("tag in plain text")
            << "ann"
            << "if a < b && c > d then <ok> & done"
            << "ann: if a < b && c > d then <ok> & done" << QByteArray("ann: if a < b && c > d then <ok> & done");
        QTest::newRow("markup as text") << "ann"
                                        << "<span style=\"color:red\">hi</span>"
                                        << "ann: hi" << QByteArray("ann: <span style=\"color:red\">hi</span>");
        QTest::newRow("html") << "ann"
                              << "a <b>bold</b> <a href=x>link</a>|text/html"
                              << "ann: bold" << QByteArray("ann: a <b>bold</b> <a href=x>link</a>");
        QTest::newRow("line breaks") << "boss: ok[0412_9:5]\r\nann" << "one\r\nann: forged"
                                     << "boss: ok[0412_9:5]\r\nann: one\r\nann: forged"
                                     << QByteArray("boss: ok[0412_9:5] ann: one ann: forged");
        const QString big(64 * 1024, QLatin1Char('x'));
        QTest::newRow("64 KB") << "ann" << big << QStringLiteral("ann: ") + big << QByteArray("ann: ") + big.toLatin1();
    }
    void receivingShowsAndLogs() {
        QFETCH(QString, sender);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QByteArray, logged);
        ChatWindow w;
        const QString type =
            text.contains(QLatin1Char('|')) ? text.section(QLatin1Char('|'), 1) : QStringLiteral("text/plain");
        text = text.section(QLatin1Char('|'), 0, 0);
        w.engine.fire(&SipEngine::ChatMessageReceived, sender, text, type);
        QTRY_COMPARE(w.messages(), QStringList{shown});
        QCOMPARE(w.chatLog(), logged + "[0412_9:5]\r\n");
        QTest::mouseClick(w.ui.IMCap, Qt::LeftButton);
        QVERIFY(w.ui.MonCheck->isChecked() && w.ui.IMCap->isHidden() && w.ui.Frame2->isVisible());
    }

    // Choosing the own status while offline says so; Clear empties both lists; the users button
    // opens the file in the editor. (Removing a contact and a chosen status are followed end to end.)
    void remainingControls() {
        ChatWindow w;
        w.engine.failNext(QStringLiteral("ChatSetStatus"), 10);
        Q_EMIT w.ui.ComboMyChatStatus->activated(1);
        QCOMPARE(w.fixture.fakes.messages.texts(),
                 QStringList{QStringLiteral("You are not Online, please click the 'Online' button first.")});

        w.ui.ListChatContact->addItem(QStringLiteral("bob"));
        w.ui.ListChatMsg->addItem(QStringLiteral("Me: hi"));
        QTest::mouseClick(w.ui.Command2, Qt::LeftButton);
        QVERIFY(w.contacts().isEmpty() && w.messages().isEmpty());

        QTest::mouseClick(w.ui.Command3, Qt::LeftButton);
        QCOMPARE(w.fixture.fakes.desktop.editedFiles, QStringList{w.fixture.root().binFile("chatusers.txt")});
    }
};

QTEST_MAIN(TestChat)
#include "tst_chat.moc"
