// The rules of the dial automation: the number a text asks for, what a clipboard text commands,
// the journal's fields and its size bound, and the links corvid-dial takes.

#include "dialer/AutomationJournal.h"
#include "dialer/AutomationRules.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace corvid;
using namespace corvid::automation;

class TestAutomationRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // That a number is ten digits or none and that #pam, #hangup and *END* are their commands is the
    // dialrules fuzz target's; these rows pin what is taken from a text.
    void clipboardRequests_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("swipe");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("number");
        const int dial = ClipboardRequest::Dial, ignore = ClipboardRequest::Ignore;
        const int hangUp = ClipboardRequest::HangUp;
        QTest::newRow("parentheses, blank, hyphen") << "(555) 123-4567" << 14 << dial << "5551234567";
        QTest::newRow("twelve digits keep the first ten") << "555123456789" << 14 << dial << "5551234567";
        QTest::newRow("ten digits starting with 1") << "1555123456" << 14 << ignore << "";
        QTest::newRow("dial file name of 15") << "15551234567.dia" << 14 << ignore << "";
        QTest::newRow("pipe record, short swipe") << "|5551234567|Jane Doe|acct" << 14 << ignore << "";
        QTest::newRow("pipe record, long swipe") << "|5551234567|Jane Doe|acct" << 30 << dial << "5551234567";
        QTest::newRow("hang-up in blanks") << "  #hangup \t" << 14 << hangUp << "";
        QTest::newRow("piped end") << "|*END*|" << 14 << hangUp << "";
        QTest::newRow("other case is a dial request") << "#Hangup" << 14 << ignore << "";
        QTest::newRow("swipe field not numeric") << "5551234567" << leadingNumber("x14") << ignore << "";
        QTest::newRow("swipe field with a word")
            << "|5551234567|Jane Doe|acct" << leadingNumber("30 chars") << dial << "5551234567";
        QTest::newRow("non-ASCII digits are not digits") << QString::fromUtf8("５５５1234567") << 14 << ignore << "";
    }
    void clipboardRequests() {
        QFETCH(QString, text);
        QFETCH(int, swipe);
        QFETCH(int, kind);
        QFETCH(QString, number);
        const ClipboardRequest request = parseClipboardRequest(text, swipe);
        QCOMPARE(int(request.kind), kind);
        QCOMPARE(request.number, number);
    }

    // A plain tel: link and an extension are dialled and refused end to end by corvid-dial; that
    // any link gives ten digits or nothing is the diallink fuzz target's.
    void clickToDialLinks_data() {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("file");
        QTest::newRow("tel percent-encoded") << "tel:%2B1%20555%20123%204567"
                                             << "5551234567.dia";
        QTest::newRow("sip user part only") << "sip:5551234567@10.0.0.1;user=phone"
                                            << "5551234567.dia";
        QTest::newRow("callto slashes") << "callto://+15551234567"
                                        << "5551234567.dia";
        QTest::newRow("no digits") << "tel:;../../x"
                                   << "";
    }
    void clickToDialLinks() {
        QFETCH(QString, argument);
        QFETCH(QString, file);
        QCOMPARE(dialFileNameForLink(argument).value_or(QString()), file);
    }

    void journalFieldsCannotForgeLines() {
        QCOMPARE(journalField(QStringLiteral("a\tb\r\nc\\")), QStringLiteral("a\\x09b\\x0d\\x0ac\\\\"));
        QCOMPARE(journalField(QString(300, QLatin1Char('9')), 10), QStringLiteral("9999999999... (300 characters)"));
    }

    void journalRotatesAtItsLimit() {
        QTemporaryDir dir;
        AutomationJournal journal(dir.filePath(QStringLiteral("logs/automation.log")), 1000);
        const QDateTime when(QDate(2026, 12, 7), QTime(9, 30));
        for (int i = 0; i < 100; ++i)
            QVERIFY(journal.append(when, QStringLiteral("datalink"), QStringLiteral("%1.dia").arg(i),
                                   QStringLiteral("dialled")));
        QFile current(journal.path()), older(journal.rotatedPath());
        QVERIFY(current.size() <= 1000 && older.size() <= 1000 && older.size() > 900);
        QVERIFY(current.open(QIODevice::ReadOnly));
        const QByteArray lines = current.readAll();
        QVERIFY(lines.endsWith("2026-12-07 09:30:00.000\tdatalink\t99.dia\tdialled\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestAutomationRules)
#include "tst_automation_rules.moc"
