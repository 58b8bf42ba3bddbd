// The list-file field reader: fields split at commas and line ends, quotes, blanks, limits.

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

        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("lf only") << QByteArray("101_Ann\n102_Bob\n") << QStringList{"101_Ann", "102_Bob"};
        QTest::newRow("cr only") << QByteArray("101\r102\r") << QStringList{"101", "102"};
        QTest::newRow("commas split a line")
            << QByteArray("101,102, 103\r\n104\r\n") << QStringList{"101", "102", "103", "104"};
        QTest::newRow("blanks around unquoted fields dropped")
            << QByteArray("  5551234 Ann Lee \t,\t 77 \r\n") << QStringList{"5551234 Ann Lee", "77"};
        QTest::newRow("quoted field holds commas")
            << QByteArray("\"Lee, Ann\",102\r\n") << QStringList{"Lee, Ann", "102"};
        QTest::newRow("quoted field keeps its blanks") << QByteArray("  \" a b \"  \r\n") << QStringList{" a b "};
        QTest::newRow("text after the closing quote dropped") << QByteArray("\"ab\"cd,e\r\n") << QStringList{"ab", "e"};
        QTest::newRow("open quote ends at the line end") << QByteArray("\"ab,c\r\nd\r\n") << QStringList{"ab,c", "d"};
        QTest::newRow("quote inside an unquoted field kept") << QByteArray("ab\"c,d\r\n") << QStringList{"ab\"c", "d"};
        QTest::newRow("empty line is an empty field") << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("two commas") << QByteArray("a,,b\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("comma at file end") << QByteArray("a,") << QStringList{"a"};
        QTest::newRow("trailing blank line") << QByteArray("a\r\n\r\n") << QStringList{"a", ""};
    }

    void fields() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QCOMPARE(readListFields(content, 99), expected);
    }

    void limits_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("maxFields");
        QTest::addColumn<int>("expectedCount");

        QTest::newRow("agent list of 60 lines") << 60 << AgentListMaxFields << 49;
        QTest::newRow("transfer list of 120 lines") << 120 << TransferListMaxFields << 99;
        QTest::newRow("short list") << 3 << TransferListMaxFields << 3;
    }

    void limits() {
        QFETCH(int, lines);
        QFETCH(int, maxFields);
        QFETCH(int, expectedCount);
        QByteArray content;
        for (int i = 1; i <= lines; ++i)
            content += QByteArray::number(1000 + i) + "_agent\r\n";
        const QStringList fields = readListFields(content, maxFields);
        QCOMPARE(fields.size(), expectedCount);
        QCOMPARE(fields.first(), QStringLiteral("1001_agent"));
        QCOMPARE(fields.last(), QStringLiteral("%1_agent").arg(1000 + expectedCount));
    }

    void missingFileIsEmpty() {
        QTemporaryDir dir;
        QVERIFY(readListFile(dir.filePath("agentlist.txt"), AgentListMaxFields).isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("agentlist.txt")));
        QVERIFY(readListFile(dir.path(), AgentListMaxFields).isEmpty()); // a folder, not a file
    }

    void fileIsRead() {
        QTemporaryDir dir;
        QFile f(dir.filePath("transfer.txt"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("5551000 Sales,\"5552000 Lee, Ann\"\r\n5553000\r\n");
        f.close();
        QCOMPARE(readListFile(f.fileName(), TransferListMaxFields),
                 (QStringList{"5551000 Sales", "5552000 Lee, Ann", "5553000"}));
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "tst_listfile.moc"
