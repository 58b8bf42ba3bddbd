// The call-log row on the real window: a display name that names no file, a refused or short
// write, and the logs folder removed while the dialer runs.

#include "CallsWindow.h"
#include "support/FileSizeLimit.h"

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kNumber = QStringLiteral("5551234567");

// A window with the display name set and 42 seconds of call counted.
struct LogWindow : CallsWindow {
    explicit LogWindow(const QString& displayName = QStringLiteral("Agent7")) {
        ui.EditAccountDisplayName->setText(displayName);
        ui.callsec->setText(QStringLiteral("42"));
    }
    bool writeRow() { return callLog->writeCallLogRow(kNumber, QStringLiteral("hang up")); }
};

} // namespace

class TestCallLog : public QObject {
    Q_OBJECT
private slots:
    // A name holding a folder part would put the row into another folder or a file no other program
    // looks for: the row is not written anywhere, and the answer says so.
    void displayNameThatNamesNoFile() {
        LogWindow w(QStringLiteral("/tmp/corvid-calllog-x"));
        const QStringList before = treeOf(w.fixture.rootPath());
        QVERIFY(!w.writeRow());
        QVERIFY(!w.callLog->writeCallLogRow(kNumber, QString(), true));
        QCOMPARE(treeOf(w.fixture.rootPath()), before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/corvid-calllog-x_calllogs.csv")));
    }

    // A removed logs folder is made again for each log; one replaced by a file is not written.
    void logsFolderRemovedOrReplacedWhileRunning() {
        LogWindow w;
        QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());
        QVERIFY(w.writeRow());
        QCOMPARE(w.callLogRows(QStringLiteral("Agent7")).size(), 1);
        QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());
        QVERIFY(w.callLog->writePlacedCalls(w.callLog->placedCallsPath(), kNumber, QStringLiteral("x")));
        QCOMPARE(w.placedCalls().size(), 1);

        QVERIFY(QDir(w.ctx.root.logs()).removeRecursively());
        w.fixture.writeFile(QStringLiteral("logs"), "not a folder");
        QVERIFY(!w.writeRow());
        QCOMPARE(w.fixture.readFile(QStringLiteral("logs")), QByteArray("not a folder"));
    }

    void fullDiskLeavesNoHalfRow() {
        LogWindow w;
        const QByteArray before = "\"1\",\"Agent7\",\"3\",\"x\",\"y\",\"\"\r\n";
        w.fixture.writeFile(QStringLiteral("logs/Agent7_calllogs.csv"), before);
        {
            FileSizeLimit limit(rlim_t(before.size() + 10)); // room for part of the row only
            QVERIFY(limit.ok());
            QVERIFY(!w.writeRow());
        }
        QCOMPARE(w.fixture.readFile(QStringLiteral("logs/Agent7_calllogs.csv")), before);
    }
};

QTEST_MAIN(TestCallLog)
#include "tst_calllog.moc"
