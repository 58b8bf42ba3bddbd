// Pure rules of the call, dialer and media subsystems: the refused-call table, the log record
// formats and the log writer, recording file names, the number part of a transfer text.

#include "calls/LineRules.h"
#include "calls/TransferRules.h"
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
    void callFailure_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<CallFailure>("failure");
        QTest::addColumn<QString>("caption");
        QTest::newRow("busy, mixed case and blanks") << "   bUSY hERE  " << CallFailure::Busy << "BUSY";
        QTest::newRow("forbidden") << "Forbidden" << CallFailure::BadNumber << "Bad Number";
        QTest::newRow("not found") << "Not Found" << CallFailure::BadNumber << "Bad Number";
        QTest::newRow("status code in front") << "486 Busy Here" << CallFailure::None << "";
    }

    void callFailure() {
        QFETCH(QString, text);
        QFETCH(CallFailure, failure);
        QFETCH(QString, caption);
        QCOMPARE(classifyCallFailure(text), failure);
        QCOMPARE(failureResultText(text), caption);
        QCOMPARE(callFailureCaption(failure), caption);
    }

    void writeRecords_data() {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("call-log row") << QStringList{"5551234567", "Agent7", "42",
                                                     "14:05:09",   "3/6/26", "Blind Transfer"}
                                      << QByteArray("\"5551234567\",\"Agent7\",\"42\",\"14:05:09\",\"3/6/26\","
                                                    "\"Blind Transfer\"\r\n");
        QTest::newRow("quote unescaped, comma inside")
            << QStringList{"Jo \"JJ\" Lee, Ann"} << QByteArray("\"Jo \"JJ\" Lee, Ann\"\r\n");
        QTest::newRow("non-ascii") << QStringList{QStringLiteral("J\u00f6rg")} << QByteArray("\"J\xc3\xb6rg\"\r\n");
    }

    void writeRecords() {
        QFETCH(QStringList, values);
        QFETCH(QByteArray, record);
        QCOMPARE(writeRecord(values), record);
        if (values.size() == 6)
            QCOMPARE(callLogRow(values[0], values[1], values[2], values[3], values[4], values[5]), record);
    }

    void placedCallsRecordFillsItsZone() {
        QCOMPARE(placedCallsRecord("5551234567", "3/6/26 2:15 PM"), QByteArray("5551234567    3/6/26 2:15 PM\r\n"));
    }

    void callLogFileNames_data() {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("agent") << QStringLiteral("Agent7") << QStringLiteral("Agent7_calllogs.csv");
        QTest::newRow("dots alone are a name") << QStringLiteral("..") << QStringLiteral(".._calllogs.csv");
        QTest::newRow("slash") << QStringLiteral("../Agent7") << QString();
        QTest::newRow("line break") << QStringLiteral("a\nb") << QString();
    }

    void callLogFileNames() {
        QFETCH(QString, displayName);
        QFETCH(QString, fileName);
        QCOMPARE(callLogFileName(displayName), fileName);
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
        QTest::addColumn<QString>("name");
        QTest::newRow("call") << QStringLiteral("5551234567") << QStringLiteral("5551234567_060326_141502.wav");
        QTest::newRow("path climbing out")
            << QStringLiteral("../../etc/x") << QStringLiteral(".._.._etc_x_060326_141502.wav");
        QTest::newRow("control") << QStringLiteral("55\n5") << QStringLiteral("55_5_060326_141502.wav");
        QTest::newRow("wildcards") << QStringLiteral("*?<>|\"") << QStringLiteral("_______060326_141502.wav");
    }

    void recordingFileName() {
        QFETCH(QString, number);
        QFETCH(QString, name);
        const QString messages = QStringLiteral("/srv/root/messages");
        const QString path = RecordingFileName(messages, number, Afternoon);
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

    // The number part of a transfer text: ten characters are a number; otherwise the text before the
    // first blank among the first 50 characters; none without such a blank.
    void transferNumberPart_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("called");
        QTest::addColumn<QString>("number");
        const QString ten = QStringLiteral("5551234567");
        QTest::newRow("empty") << QString() << false << QString();
        QTest::newRow("10") << ten << true << ten;
        QTest::newRow("10 with blanks") << QStringLiteral("555 12 345") << true << QStringLiteral("555 12 345");
        QTest::newRow("11, no blank") << QStringLiteral("15551234567") << false << QString();
        QTest::newRow("11, blank") << ten + QLatin1Char(' ') << true << ten;
        QTest::newRow("leading blank") << QStringLiteral(" 5551234567") << true << QString();
        QTest::newRow("50, blank at 50") << QString(49, QLatin1Char('5')) + QLatin1Char(' ') << true
                                         << QString(49, QLatin1Char('5'));
        QTest::newRow("51, blank at 51") << QString(50, QLatin1Char('5')) + QLatin1Char(' ') << false << QString();
        QTest::newRow("500, blank at 12") << ten + QStringLiteral(" J") + QString(488, QLatin1Char('x')) << true << ten;
        QTest::newRow("500, no blank") << QString(500, QLatin1Char('5')) << false << QString();
    }
    void transferNumberPart() {
        QFETCH(QString, text);
        QFETCH(bool, called);
        QFETCH(QString, number);
        const std::optional<QString> part = corvid::transferNumberPart(text);
        QCOMPARE(part.has_value(), called);
        if (called) QCOMPARE(*part, number);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
