// Pure rules of the call, dialer and media subsystems: the refused-call table, the log record
// formats, free recording file names (that a name stays in its folder whatever the number holds is
// the recordingname fuzz target's), live-call records, the number part of a transfer text, and the
// dial automation's: what a clipboard text commands, the links corvid-dial takes, the journal.

#include "calls/LineRules.h"
#include "calls/LiveCallRules.h"
#include "calls/TransferRules.h"
#include "dialer/AutomationJournal.h"
#include "dialer/AutomationRules.h"
#include "dialer/CallDetailRules.h"
#include "dialer/LogRecords.h"
#include "media/PauseRules.h"
#include "media/RecordingFileName.h"
#include "unit/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace corvid;
using namespace corvid::automation;
using namespace corvid::test;

Q_DECLARE_METATYPE(corvid::CallFailure)

namespace {

const QDateTime Afternoon(QDate(2026, 3, 6), QTime(14, 15, 2));

} // namespace

class TestRules : public QObject {
    Q_OBJECT
private slots:
    // Busy Here and Not Found against the real peers are in the end-to-end window test.
    void callFailure_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<CallFailure>("failure");
        QTest::addColumn<QString>("caption");
        QTest::newRow("busy, mixed case and blanks") << "   bUSY hERE  " << CallFailure::Busy << "BUSY";
        QTest::newRow("forbidden") << "Forbidden" << CallFailure::BadNumber << "Bad Number";
        QTest::newRow("status code in front") << "486 Busy Here" << CallFailure::None << "";
    }

    void callFailure() {
        QFETCH(QString, text);
        QFETCH(CallFailure, failure);
        QFETCH(QString, caption);
        QCOMPARE(classifyCallFailure(text), failure);
        QCOMPARE(failureResultText(text), caption);
    }

    // A quote inside a value is doubled, commas stay inside the quotes, text is UTF-8;
    // the placed-calls record puts the time at the next 14-column zone.
    void records() {
        QCOMPARE(writeRecord({QStringLiteral("555\""), QStringLiteral("Jo \"JJ\" Lee, J\u00f6rg")}),
                 QByteArray("\"555\"\"\",\"Jo \"\"JJ\"\" Lee, J\xc3\xb6rg\"\r\n"));
        QCOMPARE(placedCallsRecord("5551234567", "3/6/26 2:15 PM"), QByteArray("5551234567    3/6/26 2:15 PM\r\n"));
    }

    // Names with a folder part are refused by the call-log window test; appending rows, a full disk
    // and a missing or replaced logs folder are its too.
    void callLogFileNames() {
        QCOMPARE(callLogFileName(QStringLiteral("..")), QStringLiteral(".._calllogs.csv"));
        QCOMPARE(callLogFileName(QStringLiteral("a\nb")), QString());
    }

    // The next free name after _2 (taken by the recording window test): a folder or a dangling link
    // takes a name too; none free within the tries saves nothing.
    void uniqueRecordingPath() {
        QTemporaryDir dir;
        const QString first = RecordingFileName(dir.path(), QStringLiteral("5551234567"), Afternoon);
        QVERIFY(putFile(first, "RIFF"));
        QVERIFY(putFile(dir.filePath("5551234567_060326_141502_2.wav"), "RIFF"));
        QVERIFY(QDir(dir.path()).mkdir("5551234567_060326_141502_3.wav"));
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("5551234567_060326_141502_4.wav")));
        QCOMPARE(corvid::uniqueRecordingPath(first), dir.filePath("5551234567_060326_141502_5.wav"));
        QCOMPARE(corvid::uniqueRecordingPath(first, 4), QString());
        QCOMPARE(fileBytes(first), QByteArray("RIFF"));

        // A dot in a folder name is not an extension.
        QVERIFY(QDir(dir.path()).mkdir("a.d"));
        QVERIFY(putFile(dir.filePath("a.d/noext"), ""));
        QCOMPARE(corvid::uniqueRecordingPath(dir.filePath("a.d/noext")), dir.filePath("a.d/noext_2"));
    }

    // A live call's record survives any number, name or path; what is not a record is refused.
    // The row and the recording of an interrupted call carry the time of its last update.
    void liveCallRecord() {
        LiveCallRecord r;
        r.line = 1;
        r.number = QStringLiteral(" 555 1234%=\n");
        r.agent = QStringLiteral("J\u00f6 \"A\"\r\nline=9");
        r.placed = Afternoon;
        r.updated = Afternoon.addSecs(98);
        r.seconds = 98;
        r.parts = QStringList{QStringLiteral("/r/line1-part1.wav"), QStringLiteral("/r/line 1.wav")};
        QVERIFY(parseLiveCall(liveCallText(r)) == r);
        QVERIFY(!parseLiveCall(liveCallText(r).mid(1)));
        QVERIFY(!parseLiveCall("corvid-live-call 1\nline=x\nplaced=2026-03-06T14:15:02\n"));
        QCOMPARE(liveCallFileName(1), QStringLiteral("line2.call"));
        QVERIFY(isLiveCallFileName("line12.call") && !isLiveCallFileName("line0.call"));

        r.number = QStringLiteral("5551234567 ");
        QCOMPARE(interruptedCallRow(r, QLocale::c()), (QStringList{"5551234567 ", r.agent, "98", "14:16:40",
                                                                     QLocale::c().toString(r.updated.date(),
                                                                                           QLocale::ShortFormat),
                                                                     "dialer stopped"}));
        QCOMPARE(interruptedCallRecordingPath(r, "/m"), QStringLiteral("/m/5551234567_060326_141640.wav"));
    }

    // The number part of a transfer text: ten characters are a number; otherwise the text before the
    // first blank among the first 50 characters; none without such a blank.
    void transferNumberPart_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("called");
        QTest::addColumn<QString>("number");
        QTest::newRow("10 with blanks") << QStringLiteral("555 12 345") << true << QStringLiteral("555 12 345");
        QTest::newRow("leading blank") << QStringLiteral(" 5551234567") << true << QString();
        QTest::newRow("50, blank at 50") << QString(49, QLatin1Char('5')) + QLatin1Char(' ') << true
                                         << QString(49, QLatin1Char('5'));
        QTest::newRow("51, blank at 51") << QString(50, QLatin1Char('5')) + QLatin1Char(' ') << false << QString();
    }

    void transferNumberPart() {
        QFETCH(QString, text);
        QFETCH(bool, called);
        QFETCH(QString, number);
        const std::optional<QString> part = corvid::transferNumberPart(text);
        QCOMPARE(part.has_value(), called);
        if (called) QCOMPARE(*part, number);
    }

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
        QTest::newRow("twelve digits are not cut") << "555123456789" << 14 << ignore << "";
        QTest::newRow("eleven digits not after 1") << "95551234567" << 14 << ignore << "";
        QTest::newRow("eleven digits after 1") << "1 555 123 4567" << 14 << dial << "5551234567";
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
        QTest::newRow("answer") << " #answer" << 14 << int(ClipboardRequest::Answer) << "";
        QTest::newRow("piped reject") << "|#reject|" << 14 << int(ClipboardRequest::Reject) << "";
        QTest::newRow("pause in blanks") << " #pauserec " << 14 << int(ClipboardRequest::PauseRecording) << "";
        QTest::newRow("piped resume") << "|#resumerec|x" << 14 << int(ClipboardRequest::ResumeRecording) << "";
        QTest::newRow("pause in other case") << "#PauseRec" << 14 << ignore << "";
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

    // Pause and resume from any channel: what each does with the line as it is.
    void recordingPause_data() {
        QTest::addColumn<bool>("pause");
        QTest::addColumn<bool>("callUp");
        QTest::addColumn<bool>("recording");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("text");
        const int act = int(pause::Verdict::Act), done = int(pause::Verdict::AlreadyDone),
                  refused = int(pause::Verdict::Refused);
        QTest::newRow("pause, recorded call") << true << true << true << false << act << "recording paused (Line- 2)";
        QTest::newRow("pause, no call") << true << false << false << false << refused
                                        << "refused: no call is up on Line- 2";
        QTest::newRow("pause, call not recorded")
            << true << true << false << false << refused << "refused: the call on Line- 2 is not recorded";
        QTest::newRow("pause twice") << true << true << false << true << done << "already paused (Line- 2)";
        QTest::newRow("resume, paused") << false << true << false << true << act << "recording resumed (Line- 2)";
        QTest::newRow("resume, running") << false << true << true << false << done
                                         << "not paused: the recording runs (Line- 2)";
        QTest::newRow("resume, no call") << false << false << false << true << refused
                                         << "refused: no call is up on Line- 2";
        QTest::newRow("resume, not recorded")
            << false << true << false << false << refused << "refused: the call on Line- 2 is not recorded";
    }
    void recordingPause() {
        QFETCH(bool, pause);
        QFETCH(bool, callUp);
        QFETCH(bool, recording);
        QFETCH(bool, paused);
        QFETCH(int, verdict);
        QFETCH(QString, text);
        const pause::Answer answer = pause::decide(pause, 1, {callUp, recording, paused});
        QCOMPARE(int(answer.verdict), verdict);
        QCOMPARE(answer.text, text);
        QCOMPARE(recordingCommandForFile(QStringLiteral("card.PAUSE")), PauseRecordingWord);
        QCOMPARE(recordingCommandForFile(QStringLiteral("card.resume")), ResumeRecordingWord);
        QVERIFY(recordingCommandForFile(QStringLiteral("card.pause.tmp")).isEmpty());
        QCOMPARE(pause::maxPauseSeconds(QStringLiteral(" 90 ")), 90);
        QCOMPARE(pause::maxPauseSeconds(QStringLiteral("-5")) + pause::maxPauseSeconds(QStringLiteral("1m")), 0);
    }

    // Outside text in a call-detail record; that any text gives one valid JSON string holding it is
    // the calldetail fuzz target's.
    void jsonStrings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("quote and backslash") << "a\"b\\c" << QByteArray("\"a\\\"b\\\\c\"");
        QTest::newRow("line breaks and tab") << "a\r\nb\tc" << QByteArray("\"a\\r\\nb\\tc\"");
        QTest::newRow("other control characters")
            << QString(QChar(0)) + QChar(0x1b) + QChar(0x7f) << QByteArray("\"\\u0000\\u001b\\u007f\"");
        QTest::newRow("line separator") << QString(QChar(0x2028)) << QByteArray("\"\\u2028\"");
        QTest::newRow("lone surrogate") << QString(QChar(0xd800)) + "x" << QByteArray("\"\\ufffdx\"");
        QTest::newRow("non-ASCII as UTF-8")
            << QString::fromUtf8("Zoë 😀") << QByteArray("\"Zo\xc3\xab \xf0\x9f\x98\x80\"");
    }
    void jsonStrings() {
        QFETCH(QString, text);
        QFETCH(QByteArray, json);
        QCOMPARE(jsonString(text), json);
    }

    // The record's file and the poor-audio line.
    void callDetailRules() {
        QCOMPARE(callDetailFileName(QStringLiteral("Demo Agent")), QStringLiteral("Demo Agent_calls.jsonl"));
        QVERIFY(callDetailFileName(QStringLiteral("../x")).isEmpty());
        CallQuality q;
        q.lossPercent = 12.4;
        QCOMPARE(poorAudioText(0, q), QStringLiteral("Line- 1: poor audio (12 % lost)"));
        q.lossPercent = PoorLossPercent;
        q.jitterMs = PoorJitterMs + 1;
        QCOMPARE(poorAudioText(1, q), QStringLiteral("Line- 2: poor audio (41 ms jitter)"));
        QCOMPARE(callDetailStamp(QDateTime(QDate(2026, 3, 6), QTime(14, 15, 2, 7), Qt::OffsetFromUTC, -16200)),
                 QStringLiteral("2026-03-06T14:15:02.007-04:30"));
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

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
