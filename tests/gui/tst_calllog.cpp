// The log writers, the CSV call-log row shared by the call-log triggers, "Clear" and the
// log-clean tick, on the real window with a fixed clock.

#include "CallsWindow.h"
#include "support/FileSizeLimit.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QLocale>

using namespace corvid;
using namespace corvid::test;

namespace {

const QDateTime kAt(QDate(2026, 12, 4), QTime(9, 5, 7));

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file and folder below dir (relative paths), sorted.
QStringList treeOf(const QString& dir) {
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(dir).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

// A window with the clock at kAt, the display name set and 42 seconds of call counted.
struct LogWindow : CallsWindow {
    explicit LogWindow(const QString& displayName = QStringLiteral("Agent7")) {
        fakes.clock.set(kAt);
        ui.EditAccountDisplayName->setText(displayName);
        ui.callsec->setText(QStringLiteral("42"));
    }
};

QByteArray shortDate() {
    return QLocale::system().toString(kAt.date(), QLocale::ShortFormat).toLocal8Bit();
}

} // namespace

class TestCallLog : public QObject {
    Q_OBJECT
private slots:
    void writerRecords() {
        CallsWindow w;
        w.fakes.clock.set(kAt);
        const QString csv = w.ctx.root.logFile(QStringLiteral("Agent7_calllogs.csv"));

        // Write style: quoted values, commas between, nothing escaped, CR LF; appended, never rewritten.
        QVERIFY(w.callLog->writeOUTEntry(csv, QStringLiteral("555,0100"), QStringLiteral("Ag\"ent7"),
                                         QStringLiteral("12"), QStringLiteral("09:05:07"), QStringLiteral("4/12/26"),
                                         QStringLiteral("Blind Transfer")));
        QVERIFY(w.callLog->writeOUTEntry(csv, QString(), QStringLiteral("Agent7"), QStringLiteral("0"),
                                         QStringLiteral("09:05:08"), QStringLiteral("4/12/26"), QString()));
        QCOMPARE(readAll(csv),
                 QByteArray("\"555,0100\",\"Ag\"ent7\",\"12\",\"09:05:07\",\"4/12/26\",\"Blind Transfer\"\r\n"
                            "\"\",\"Agent7\",\"0\",\"09:05:08\",\"4/12/26\",\"\"\r\n"));

        // The CRM hand-over: write style, one value.
        const QString handOver = w.ctx.root.datalink() + QStringLiteral("/5551234567.txt");
        QVERIFY(w.callLog->writeInFile(handOver, QStringLiteral("5551234567")));
        QCOMPARE(readAll(handOver), QByteArray("\"5551234567\"\r\n"));

        // Print style: the chat line as it is, in the file of the clock's day.
        QCOMPARE(w.callLog->chatLogPath(), w.ctx.root.logs() + QStringLiteral("/chat_log_041226.txt"));
        QVERIFY(w.callLog->writeIMFile(w.callLog->chatLogPath(), QStringLiteral("Me: hi, \"you\"[0412_9:5]")));
        QCOMPARE(readAll(w.callLog->chatLogPath()), QByteArray("Me: hi, \"you\"[0412_9:5]\r\n"));

        // Print style, two values: the number, then the date and time in the next print zone.
        QCOMPARE(w.callLog->placedCallsPath(), w.ctx.root.logs() + QStringLiteral("/callsout.txt"));
        QVERIFY(w.callLog->writePlacedCalls(w.callLog->placedCallsPath(), QStringLiteral("5551234567"),
                                            QStringLiteral("04/12/2026 09:05")));
        QCOMPARE(readAll(w.callLog->placedCallsPath()), QByteArray("5551234567    04/12/2026 09:05\r\n"));
    }

    void rowOfCallLogTriggers_data() {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("evenWithoutDisplayName");
        QTest::addColumn<bool>("written");

        QTest::newRow("blind transfer") << QStringLiteral("Agent7") << QStringLiteral("Blind Transfer") << false
                                        << true;
        QTest::newRow("far end") << QStringLiteral("Agent7") << QString() << true << true;
        QTest::newRow("no display name: no row") << QString() << QStringLiteral("Blind Transfer") << false << false;
        QTest::newRow("no display name, far end: _calllogs.csv") << QString() << QString() << true << true;
    }

    void rowOfCallLogTriggers() {
        QFETCH(QString, displayName);
        QFETCH(QString, result);
        QFETCH(bool, evenWithoutDisplayName);
        QFETCH(bool, written);

        LogWindow w(displayName);
        const QStringList before = treeOf(w.fixture.rootPath());

        QCOMPARE(w.callLog->writeCallLogRow(QStringLiteral("5551234567"), result, evenWithoutDisplayName), written);

        const QString file = w.ctx.root.logFile(displayName + QStringLiteral("_calllogs.csv"));
        if (written) {
            QCOMPARE(readAll(file), "\"5551234567\",\"" + displayName.toLocal8Bit() + "\",\"42\",\"09:05:07\",\"" +
                                        shortDate() + "\",\"" + result.toLocal8Bit() + "\"\r\n");
            QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
        } else {
            QCOMPARE(treeOf(w.fixture.rootPath()), before);       // no file at all
            QCOMPARE(w.ui.callsec->text(), QStringLiteral("42")); // keeps counting
        }
    }

    void displayNameThatNamesNoFile_data() {
        QTest::addColumn<QString>("displayName");
        QTest::newRow("parent folder") << QStringLiteral("../x");
        QTest::newRow("absolute") << QStringLiteral("/tmp/corvid-calllog-x");
#ifdef Q_OS_WIN
        QTest::newRow("quote") << QStringLiteral("Ag\"ent7");
#endif
    }

    // Where the system allows a quote in a file name, the agent's own file gets the row, and the
    // quote stands unescaped inside the second value.
    void displayNameWithQuote() {
#ifdef Q_OS_WIN
        QSKIP("Windows file names cannot hold a double quote");
#endif
        LogWindow w(QStringLiteral("Ag\"ent7"));
        QVERIFY(w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QStringLiteral("hang up")));
        QFile f(w.ctx.root.logs() + QStringLiteral("/Ag\"ent7_calllogs.csv"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray row = f.readAll();
        QVERIFY2(row.startsWith("\"5551234567\",\"Ag\"ent7\",\"42\",\""), row.constData());
        QVERIFY(row.endsWith(",\"hang up\"\r\n"));
    }

    // Such a name would put the row into another folder or a file no other program looks for: the
    // row is not written anywhere, and the answer says so.
    void displayNameThatNamesNoFile() {
        QFETCH(QString, displayName);
        LogWindow w(displayName);
        const QString outerDir = QFileInfo(w.fixture.rootPath()).absolutePath();
        const QStringList outerBefore = QDir(outerDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        const QStringList before = treeOf(w.fixture.rootPath());

        QVERIFY(!w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QStringLiteral("hang up")));
        QVERIFY(!w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QString(), true));

        QCOMPARE(treeOf(w.fixture.rootPath()), before);
        QCOMPARE(QDir(outerDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), outerBefore);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/corvid-calllog-x_calllogs.csv")));
        // The row was due: the seconds of the ended call are not carried on.
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
    }

    void logsFolderRemovedWhileRunning() {
        LogWindow w;
        QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());

        QVERIFY(w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QStringLiteral("hang up")));
        QCOMPARE(CallsWindow::fileLines(w.ctx.root.logFile(QStringLiteral("Agent7_calllogs.csv"))).size(), 1);

        QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());
        QVERIFY(w.callLog->writePlacedCalls(w.callLog->placedCallsPath(), QStringLiteral("5551234567"),
                                            QStringLiteral("x")));
        QVERIFY(QFileInfo::exists(w.callLog->placedCallsPath()));
    }

    void refusedWriteIsNotReportedWritten_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("logs folder replaced by a file") << QStringLiteral("logs is a file");
        QTest::newRow("disk full") << QStringLiteral("disk full");
    }

    void refusedWriteIsNotReportedWritten() {
        QFETCH(QString, how);
        LogWindow w;
        const QString csv = w.ctx.root.logFile(QStringLiteral("Agent7_calllogs.csv"));

        bool written = true;
        if (how == QLatin1String("logs is a file")) {
            QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());
            w.fixture.writeFile(QStringLiteral("logs"), "not a folder");
            written = w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QStringLiteral("hang up"));
            QCOMPARE(w.fixture.readFile(QStringLiteral("logs")), QByteArray("not a folder"));
        } else {
            w.fixture.writeFile(QStringLiteral("logs/Agent7_calllogs.csv"),
                                "\"1\",\"Agent7\",\"3\",\"x\",\"y\",\"\"\r\n");
            const QByteArray before = readAll(csv);
            {
                FileSizeLimit limit(rlim_t(before.size() + 10)); // room for part of the row only
                QVERIFY(limit.ok());
                written = w.callLog->writeCallLogRow(QStringLiteral("5551234567"), QStringLiteral("hang up"));
            }
            QCOMPARE(readAll(csv), before); // no half row left behind
        }
        QVERIFY(!written);
        QCOMPARE(w.ui.callsec->text(), QStringLiteral("0"));
    }

    void clearButton() {
        CallsWindow w;
        w.fixture.writeFile(QStringLiteral("logs/callsout.txt"), "5551234567    x\r\n");
        w.ui.ListStatusLog->addItems({QStringLiteral("Line- 1: Dialing - 5551234567"), QStringLiteral("Ringing")});
        w.ui.EditPhoneNo->setText(QStringLiteral("5551234567"));
        const QStringList before = treeOf(w.fixture.rootPath());

        QTest::mouseClick(w.ui.BtnClearLog, Qt::LeftButton);

        QCOMPARE(w.ui.ListStatusLog->count(), 0);
        QCOMPARE(w.ui.EditPhoneNo->text(), QString());
        QCOMPARE(treeOf(w.fixture.rootPath()), before);
        QCOMPARE(w.fixture.readFile(QStringLiteral("logs/callsout.txt")), QByteArray("5551234567    x\r\n"));
    }

    // Half a second after a call ends the status log is empty, even when late events added lines
    // after the end; the tick is a one-shot.
    void logCleanTickEmptiesStatusLogAfterCallEnd() {
        CallsWindow w;
        w.goOnline(2);
        w.ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        w.dial(QStringLiteral("5551234567"));
        QTRY_VERIFY(w.engine.line(0).connected);

        QElapsedTimer sinceEnd;
        QTest::mouseClick(w.ui.BtnHangUp, Qt::LeftButton);
        sinceEnd.start();
        QVERIFY(w.ctx.timers.logCleanTimer->isActive());
        w.lines->AddStatusLog(QStringLiteral("a late engine line"));
        QVERIFY(w.ui.ListStatusLog->count() > 0);

        QTRY_COMPARE_WITH_TIMEOUT(w.ui.ListStatusLog->count(), 0, 2000);
        QVERIFY2(sinceEnd.elapsed() >= 400, qPrintable(QString::number(sinceEnd.elapsed())));
        QVERIFY(!w.ctx.timers.logCleanTimer->isActive());

        // It does not tick again by itself.
        w.lines->AddStatusLog(QStringLiteral("next call's line"));
        QTest::qWait(700);
        QCOMPARE(w.ui.ListStatusLog->count(), 1);
    }
};

QTEST_MAIN(TestCallLog)
#include "tst_calllog.moc"
