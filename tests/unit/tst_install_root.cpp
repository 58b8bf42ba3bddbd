// The install root: where it comes from, the paths under it and the folders made at start-up.

#include "platform/InstallRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using corvid::InstallRoot;

class TestInstallRoot : public QObject {
    Q_OBJECT
private slots:
    void resolvesInOrder_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("expected"); // "HOME" stands for the home-based default

        const QString program = QStringLiteral("corvid-dialer");
        QTest::newRow("option beats environment")
            << QStringList{program, "--root=/opt/a b"} << QStringLiteral("/srv/b") << QStringLiteral("/opt/a b");
        QTest::newRow("environment without option")
            << QStringList{program, "--other"} << QStringLiteral("/srv/b/") << QStringLiteral("/srv/b");
        QTest::newRow("option without value falls through")
            << QStringList{program, "--root"} << QStringLiteral("/srv/b") << QStringLiteral("/srv/b");
        QTest::newRow("empty environment is unset")
            << QStringList{program} << QStringLiteral("") << QStringLiteral("HOME");
    }

    void resolvesInOrder() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, environment);
        QFETCH(QString, expected);

        // Every row sets both variables; nothing else in this program reads them.
        QTemporaryDir home;
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("CALLDECK_ROOT", QFile::encodeName(environment));

        if (expected == QLatin1String("HOME"))
            expected = QDir(home.path()).absolutePath() + QStringLiteral("/CallDeck");
        QCOMPARE(InstallRoot::resolve(arguments), expected);
    }

    void namesWithFolderPartsGiveNoPath() {
        const InstallRoot root(QStringLiteral("/opt/CallDeck"));
        for (const QString name : {"../../etc/passwd", "..\\bin\\x.txt"}) {
            QVERIFY2(!InstallRoot::isPlainFileName(name), qPrintable(name));
            QVERIFY2(root.binFile(name).isEmpty() && root.logFile(name).isEmpty() && root.appTool(name).isEmpty() &&
                         root.binTool(name).isEmpty(),
                     qPrintable(name));
        }
    }

    void createsMissingFoldersButNeverApps() {
        QTemporaryDir temp;
        const InstallRoot root(temp.filePath(QStringLiteral("CallDeck")));

        QVERIFY(root.createMissingFolders());
        QStringList made = QDir(root.root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        made.sort();
        QCOMPARE(made, (QStringList{"PreRecordedMessages", "bin", "datalink", "logs", "messages"}));
        QVERIFY(!QFileInfo::exists(root.apps()));
        QVERIFY(root.createMissingFolders()); // every start after the first finds them there
    }

    void reportsAFolderThatCannotBeMade() {
        QTemporaryDir temp;
        const InstallRoot root(temp.path());
        QFile blocker(root.logs()); // a file where the logs folder belongs
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY(!root.createMissingFolders());
        QVERIFY(QFileInfo(root.bin()).isDir()); // the others are still made
    }
};

QTEST_GUILESS_MAIN(TestInstallRoot)
#include "tst_install_root.moc"
