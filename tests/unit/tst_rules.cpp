// Pure rules of the call, dialer and media subsystems: line labels and the refused-call table,
// the dial pad, the log record formats and the log writer, recording file names.

#include "calls/DialRules.h"
#include "calls/LineRules.h"
#include "dialer/LogRecords.h"
#include "media/RecordingFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace corvid;

Q_DECLARE_METATYPE(corvid::CallFailure)

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const QDateTime Afternoon(QDate(2026, 3, 6), QTime(14, 15, 2));

} // namespace

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void lineLabels_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("row");
        QTest::newRow("line 0") << 0 << QStringLiteral("Line- 1") << QStringLiteral(" 1");
        QTest::newRow("line 9") << 9 << QStringLiteral("Line- 10") << QStringLiteral(" 10");
        QTest::newRow("no line (-1) is no special case") << -1 << QStringLiteral("Line- 0") << QStringLiteral(" 0");
    }

    void lineLabels() {
        QFETCH(int, line);
        QFETCH(QString, label);
        QFETCH(QString, row);
        QCOMPARE(lineLabel(line), label);
        QCOMPARE(lineNumberText(line), row);
        QCOMPARE(lineStatusLogLine(line, QStringLiteral(": Hung up.")), label + QStringLiteral(": Hung up."));
    }

    void callFailure_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<CallFailure>("failure");
        QTest::addColumn<QString>("caption");
        QTest::newRow("busy here") << "Busy Here" << CallFailure::Busy << "BUSY";
        QTest::newRow("busy, mixed case and blanks") << "   bUSY hERE  " << CallFailure::Busy << "BUSY";
        QTest::newRow("forbidden") << "Forbidden" << CallFailure::BadNumber << "Bad Number";
        QTest::newRow("not found") << "Not Found" << CallFailure::BadNumber << "Bad Number";
        QTest::newRow("status code in front") << "486 Busy Here" << CallFailure::None << "";
        QTest::newRow("only part of the words") << "Busy" << CallFailure::None << "";
    }

    void callFailure() {
        QFETCH(QString, text);
        QFETCH(CallFailure, failure);
        QFETCH(QString, caption);
        QCOMPARE(classifyCallFailure(text), failure);
        QCOMPARE(failureResultText(text), caption);
        QCOMPARE(callFailureCaption(failure), caption);
    }

    void lineStatusWord_data() {
        QTest::addColumn<bool>("open");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("asked"); // the questions put to the engine, in order
        QTest::newRow("closed") << false << true << true << true << QStringLiteral("close") << QStringLiteral("o");
        QTest::newRow("open and idle") << true << false << true << true << QStringLiteral("free")
                                       << QStringLiteral("ob");
        QTest::newRow("in a call") << true << true << false << false << QStringLiteral("busy")
                                   << QStringLiteral("obph");
        QTest::newRow("held") << true << true << false << true << QStringLiteral("hold") << QStringLiteral("obph");
        QTest::newRow("playing while held")
            << true << true << true << true << QStringLiteral("playing") << QStringLiteral("obp");
    }

    void lineStatusWord() {
        QFETCH(bool, open);
        QFETCH(bool, busy);
        QFETCH(bool, playing);
        QFETCH(bool, hold);
        QFETCH(QString, word);
        QFETCH(QString, asked);
        QString questions;
        const QString actual = corvid::lineStatusWord(
            [&] {
                questions += 'o';
                return open;
            },
            [&] {
                questions += 'b';
                return busy;
            },
            [&] {
                questions += 'p';
                return playing;
            },
            [&] {
                questions += 'h';
                return hold;
            });
        QCOMPARE(actual, word);
        QCOMPARE(questions, asked);
    }

    void dialPadKeys_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QChar>("dtmf");
        const QString nine = QStringLiteral("555123456");
        const QString ten = QStringLiteral("5551234567");
        const QString eleven = QStringLiteral("15551234567");
        QTest::newRow("Corvid appends 2") << "BtnDialPad1"
                                          << ""
                                          << "2" << QChar('2');
        QTest::newRow("9 chars still extended") << "BtnDialPad7" << nine << nine + "7" << QChar('7');
        QTest::newRow("10 chars not extended") << "BtnDialPad7" << ten << ten << QChar('7');
        QTest::newRow("11 chars extended") << "BtnDialPad7" << eleven << eleven + "7" << QChar('7');
        QTest::newRow("star always appends") << "BtnDialPadStar" << ten << ten + "*" << QChar('*');
        QTest::newRow("hash never appends") << "BtnDialPadNo"
                                            << "55"
                                            << "55" << QChar('#');
        QTest::newRow("OPER at 10 chars") << "ctText8" << ten << ten << QChar('0');
    }

    void dialPadKeys() {
        QFETCH(QString, control);
        QFETCH(QString, field);
        QFETCH(QString, expected);
        QFETCH(QChar, dtmf);
        const DialPadKey* key = findDialPadKey(control);
        QVERIFY(key);
        QCOMPARE(pressDialPadKey(field, *key), expected);
        QCOMPARE(key->dtmf, dtmf);
    }

    void unknownKeysAndTheStar() {
        QVERIFY(!findDialPadKey(QStringLiteral("BtnDialPad")));
        QVERIFY(!findDialPadKey(QStringLiteral("btndialpad1"))); // object names are exact
        // That no key sends or types a 1 is checked key by key in the dialing window test.
        QCOMPARE(appendDialPadStar(QStringLiteral("12345678901")), QStringLiteral("12345678901*"));
    }

    void forceInBand_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("state"); // 1 ticked, 0 unticked, -1 left alone
        QTest::newRow("True") << QStringLiteral("True") << 1;
        QTest::newRow("False") << QStringLiteral("False") << 0;
        QTest::newRow("other case") << QStringLiteral("true") << -1;
    }

    void forceInBand() {
        QFETCH(QString, value);
        QFETCH(int, state);
        const std::optional<bool> box = forceInBandFromSetting(value);
        QCOMPARE(box.has_value() ? int(*box) : -1, state);
    }

    void writeRecords_data() {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("call-log row") << QStringList{"5551234567", "Agent7", "42",
                                                     "14:05:09",   "3/6/26", "Blind Transfer"}
                                      << QByteArray("\"5551234567\",\"Agent7\",\"42\",\"14:05:09\",\"3/6/26\","
                                                    "\"Blind Transfer\"\r\n");
        QTest::newRow("quote unescaped") << QStringList{"Jo \"JJ\" Lee"} << QByteArray("\"Jo \"JJ\" Lee\"\r\n");
        QTest::newRow("comma stays inside") << QStringList{"Lee, Ann", "x"} << QByteArray("\"Lee, Ann\",\"x\"\r\n");
        QTest::newRow("non-ascii") << QStringList{QStringLiteral("J\u00f6rg")} << QByteArray("\"J\xc3\xb6rg\"\r\n");
    }

    void writeRecords() {
        QFETCH(QStringList, values);
        QFETCH(QByteArray, record);
        QCOMPARE(writeRecord(values), record);
        if (values.size() == 6)
            QCOMPARE(callLogRow(values[0], values[1], values[2], values[3], values[4], values[5]), record);
    }

    void printRecords_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("ten-digit number") << "5551234567"
                                          << "3/6/26 2:15 PM" << QByteArray("5551234567    3/6/26 2:15 PM\r\n");
        QTest::newRow("number filling a zone") << "55512345678901"
                                               << "w" << QByteArray("55512345678901" + QByteArray(14, ' ') + "w\r\n");
        QTest::newRow("empty number") << ""
                                      << "w" << QByteArray(QByteArray(14, ' ') + "w\r\n");
    }

    void printRecords() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QByteArray, record);
        QCOMPARE(placedCallsRecord(first, second), record);
        QCOMPARE(printRecord(first), first.toLocal8Bit() + "\r\n");
    }

    void callLogFileNames_data() {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("agent") << QStringLiteral("Agent7") << QStringLiteral("Agent7_calllogs.csv");
        QTest::newRow("empty") << QString() << QStringLiteral("_calllogs.csv");
        QTest::newRow("dots alone are a name") << QStringLiteral("..") << QStringLiteral(".._calllogs.csv");
        QTest::newRow("slash") << QStringLiteral("../Agent7") << QString();
#ifndef Q_OS_WIN
        QTest::newRow("quote kept where the system allows it")
            << QStringLiteral("Jo \"JJ\"") << QStringLiteral("Jo \"JJ\"_calllogs.csv");
#endif
        QTest::newRow("line break") << QStringLiteral("a\nb") << QString();
    }

    void callLogFileNames() {
        QFETCH(QString, displayName);
        QFETCH(QString, fileName);
        QCOMPARE(callLogFileName(displayName), fileName);
    }

    void stampsAndNames() {
        const QDateTime morning(QDate(2026, 3, 6), QTime(9, 5, 3));
        QCOMPARE(chatStamp(morning), QStringLiteral("0603_9:5"));
        QCOMPARE(chatStamp(QDateTime(QDate(2026, 1, 2), QTime(0, 0))), QStringLiteral("0201_0:0"));
        QCOMPARE(chatLineSent(QStringLiteral("hello"), QStringLiteral("0603_9:5")),
                 QStringLiteral("Me: hello[0603_9:5]"));
        QCOMPARE(chatLineReceived(QStringLiteral("201"), QStringLiteral("hi"), QStringLiteral("0603_9:5")),
                 QStringLiteral("201: hi[0603_9:5]"));
        QCOMPARE(chatLogFileName(morning.date()), QStringLiteral("chat_log_060326.txt"));
        QCOMPARE(callLogTimeText(morning.time()), QStringLiteral("09:05:03"));
        const QLocale c = QLocale::c();
        QCOMPARE(callLogDateText(morning.date(), c), c.toString(morning.date(), QLocale::ShortFormat));
        QVERIFY(placedCallsWhen(morning, c).startsWith(callLogDateText(morning.date(), c) + QLatin1Char(' ')));
    }

    void appendLogLine() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Agent7_calllogs.csv");
        QVERIFY(corvid::appendLogLine(path, writeRecord({"1", "a"})));
        QVERIFY(corvid::appendLogLine(path, writeRecord({"2", "b"})));
        QCOMPARE(fileBytes(path), QByteArray("\"1\",\"a\"\r\n\"2\",\"b\"\r\n"));
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        QVERIFY(!corvid::appendLogLine(dir.filePath("logs/callsout.txt"), printRecord(QStringLiteral("x"))));
        QVERIFY(!QFileInfo::exists(dir.filePath("logs"))); // the folder is not made here
        QVERIFY(!corvid::appendLogLine(dir.filePath("folder"), printRecord(QStringLiteral("x"))));
    }

    void recordingFileName_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("name");
        QTest::newRow("call") << QStringLiteral("5551234567") << Afternoon
                              << QStringLiteral("5551234567_060326_141502.wav");
        QTest::newRow("empty number") << QString() << Afternoon << QStringLiteral("_060326_141502.wav");
        QTest::newRow("path climbing out")
            << QStringLiteral("../../etc/x") << Afternoon << QStringLiteral(".._.._etc_x_060326_141502.wav");
        QTest::newRow("control") << QStringLiteral("55\n5") << Afternoon << QStringLiteral("55_5_060326_141502.wav");
        QTest::newRow("wildcards") << QStringLiteral("*?<>|\"") << Afternoon
                                   << QStringLiteral("_______060326_141502.wav");
    }

    void recordingFileName() {
        QFETCH(QString, number);
        QFETCH(QDateTime, now);
        QFETCH(QString, name);
        const QString messages = QStringLiteral("/srv/root/messages");
        const QString path = RecordingFileName(messages, number, now);
        QCOMPARE(path, messages + QLatin1Char('/') + name);
        QCOMPARE(QFileInfo(path).absolutePath(), messages);
    }

    void uniqueRecordingPath() {
        QTemporaryDir dir;
        const QString first = RecordingFileName(dir.path(), QStringLiteral("5551234567"), Afternoon);
        QCOMPARE(corvid::uniqueRecordingPath(first), first);

        QVERIFY(putFile(first, "RIFF"));
        const QString second = dir.filePath("5551234567_060326_141502_2.wav");
        QCOMPARE(corvid::uniqueRecordingPath(first), second);
        QVERIFY(putFile(second, "RIFF"));
        QVERIFY(QDir(dir.path()).mkdir("5551234567_060326_141502_3.wav")); // a folder takes the name too
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("5551234567_060326_141502_4.wav"))); // dangling
        QCOMPARE(corvid::uniqueRecordingPath(first), dir.filePath("5551234567_060326_141502_5.wav"));
        QCOMPARE(corvid::uniqueRecordingPath(first, 4), QString()); // none free within the tries: save nothing
        QCOMPARE(fileBytes(first), QByteArray("RIFF"));

        // A dot in a folder name is not an extension.
        QVERIFY(QDir(dir.path()).mkdir("a.d"));
        QVERIFY(putFile(dir.filePath("a.d/noext"), ""));
        QCOMPARE(corvid::uniqueRecordingPath(dir.filePath("a.d/noext")), dir.filePath("a.d/noext_2"));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
