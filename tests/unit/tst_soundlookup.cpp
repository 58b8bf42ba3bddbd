// Where the ring tone is found: the working folder, beside the program, then the installed data
// folder (share/corvid-dialer beside the program's bin folder), for a build and a moved install.

#include "platform/QtServices.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using corvid::LocateSoundFile;

class TestSoundLookup : public QObject {
    Q_OBJECT
private slots:
    void lookupOrder_data() {
        QTest::addColumn<QStringList>("present"); // folders under the temporary tree holding ring.wav
        QTest::addColumn<QString>("found");       // where it is found; empty: not found
        const QString work = QStringLiteral("work");
        const QString bin = QStringLiteral("prefix/bin");
        const QString share = QStringLiteral("prefix/share/corvid-dialer");
        QTest::newRow("nowhere") << QStringList{} << QString();
        QTest::newRow("installed data folder") << QStringList{share} << share;
        QTest::newRow("beside the program first") << QStringList{bin, share} << bin;
        QTest::newRow("working folder first") << QStringList{work, bin, share} << work;
        QTest::newRow("another prefix's data is not searched")
            << QStringList{QStringLiteral("share/corvid-dialer")} << QString();
    }

    void lookupOrder() {
        QFETCH(QStringList, present);
        QFETCH(QString, found);
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        QDir top(tree.path());
        for (const QString& folder : {QStringLiteral("work"), QStringLiteral("prefix/bin")})
            QVERIFY(top.mkpath(folder));
        for (const QString& folder : present) {
            QVERIFY(top.mkpath(folder));
            QVERIFY(QFile::copy(QStringLiteral(CORVID_SOURCE_DIR "/assets/ring.wav"),
                                top.filePath(folder + QStringLiteral("/ring.wav"))));
        }
        const QString expected = found.isEmpty() ? QString() : top.filePath(found + QStringLiteral("/ring.wav"));
        QCOMPARE(LocateSoundFile(QStringLiteral("ring.wav"), top.filePath(QStringLiteral("work")),
                                 top.filePath(QStringLiteral("prefix/bin"))),
                 expected);

        // The same install moved elsewhere is found from its new place.
        QVERIFY(top.rename(QStringLiteral("prefix"), QStringLiteral("moved")));
        const QString moved = found.startsWith(QLatin1String("prefix/"))
                                  ? top.filePath(QStringLiteral("moved") + found.mid(6) + QStringLiteral("/ring.wav"))
                                  : expected;
        QCOMPARE(LocateSoundFile(QStringLiteral("ring.wav"), top.filePath(QStringLiteral("work")),
                                 top.filePath(QStringLiteral("moved/bin"))),
                 moved);
    }

    void absoluteNamesAndMissingFolders() {
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        const QString file = QDir(tree.path()).filePath(QStringLiteral("tone.wav"));
        QVERIFY(QFile::copy(QStringLiteral(CORVID_SOURCE_DIR "/assets/ring.wav"), file));
        QCOMPARE(LocateSoundFile(file, QString(), QString()), file);
        QCOMPARE(LocateSoundFile(file + QStringLiteral(".missing"), tree.path(), tree.path()), QString());
        QCOMPARE(LocateSoundFile(QStringLiteral("tone.wav"), QString(), QString()), QString());
        QCOMPARE(LocateSoundFile(QString(), tree.path(), tree.path()), QString());
        // A folder of that name is not a sound file.
        QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("bin/ring.wav")));
        QCOMPARE(LocateSoundFile(QStringLiteral("ring.wav"), QString(), QDir(tree.path()).filePath("bin")), QString());
    }
};

QTEST_GUILESS_MAIN(TestSoundLookup)

#include "tst_soundlookup.moc"
