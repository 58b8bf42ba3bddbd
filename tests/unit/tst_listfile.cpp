// The list-file field reader: fields split at commas and line ends, quotes, blanks. That a quoted
// field comes back whole whatever it holds or trails is the listfile fuzz target's; the caps are
// checked on real files by the window tests.

#include "settings/ListFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace corvid;

class TestListFile : public QObject {
    Q_OBJECT
private slots:
    void fields_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("cr only") << QByteArray("101\r102\r") << QStringList{"101", "102"};
        QTest::newRow("commas split a line, blanks dropped")
            << QByteArray("101,102, 103 \t\r\n104\r\n") << QStringList{"101", "102", "103", "104"};
        QTest::newRow("open quote ends at the line end") << QByteArray("\"ab,c\r\nd\r\n") << QStringList{"ab,c", "d"};
        QTest::newRow("quote inside an unquoted field kept") << QByteArray("ab\"c,d\r\n") << QStringList{"ab\"c", "d"};
        QTest::newRow("empty line is an empty field, comma at the end is not")
            << QByteArray("a\r\n\r\nb,") << QStringList{"a", "", "b"};
    }

    void fields() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QCOMPARE(readListFields(content, 99), expected);
    }

    void missingFileIsEmptyAndNotMade() {
        QTemporaryDir dir;
        QVERIFY(readListFile(dir.filePath("agentlist.txt"), AgentListMaxFields).isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("agentlist.txt")));
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
