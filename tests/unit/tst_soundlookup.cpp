// Where the ring tone is found: the working folder, beside the program, then the installed data
// folder (share/corvid-dialer beside the program's bin folder, wherever the install was put).

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
        const QString work = "work", bin = "prefix/bin", share = "prefix/share/corvid-dialer";
        QTest::newRow("installed data folder") << QStringList{share} << share;
        QTest::newRow("beside the program first") << QStringList{bin, share} << bin;
        QTest::newRow("working folder first") << QStringList{work, bin, share} << work;
        QTest::newRow("another prefix's data is not searched") << QStringList{"share/corvid-dialer"} << QString();
    }

    void lookupOrder() {
        QFETCH(QStringList, present);
        QFETCH(QString, found);
        QTemporaryDir tree;
        QDir top(tree.path());
        QVERIFY(tree.isValid() && top.mkpath("work") && top.mkpath("prefix/bin"));
        for (const QString& folder : present)
            QVERIFY(top.mkpath(folder) &&
                    QFile::copy(CORVID_SOURCE_DIR "/assets/ring.wav", top.filePath(folder + "/ring.wav")));
        QCOMPARE(LocateSoundFile("ring.wav", top.filePath("work"), top.filePath("prefix/bin")),
                 found.isEmpty() ? QString() : top.filePath(found + "/ring.wav"));
    }

    void absoluteNamesAndMissingFolders() {
        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        const QString file = QDir(tree.path()).filePath(QStringLiteral("tone.wav"));
        QVERIFY(QFile::copy(QStringLiteral(CORVID_SOURCE_DIR "/assets/ring.wav"), file));
        QCOMPARE(LocateSoundFile(file, QString(), QString()), file);
        QCOMPARE(LocateSoundFile(file + QStringLiteral(".missing"), tree.path(), tree.path()), QString());
        // A folder of that name is not a sound file.
        QVERIFY(QDir(tree.path()).mkpath(QStringLiteral("bin/ring.wav")));
        QCOMPARE(LocateSoundFile(QStringLiteral("ring.wav"), QString(), QDir(tree.path()).filePath("bin")), QString());
    }
};

QTEST_GUILESS_MAIN(TestSoundLookup)

#include "tst_soundlookup.moc"
