// The settings store: the reader, the writer and the profile lookup on their own bytes, the
// file-level behaviour (long values, the atomic rewrite, paths that cannot be written), site
// defaults, and the list files' field reader.

#include "settings/IniFile.h"
#include "settings/ListFile.h"
#include "settings/SiteSettings.h"
#include "support/FileSizeLimit.h"
#include "unit/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace corvid;
using namespace corvid::test;

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    // The one reading of the format (null: not found), looking up names in other capitals. The round
    // trip of any value in any file is the ini fuzz target's.
    void lookups_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("value holding [ is an entry, not a header")
            << QByteArray("[System]\r\nT=5551234567 [Sales]\r\nName=2\r\n") << QByteArray("2");
        QTest::newRow("indented header ends the section")
            << QByteArray("[System]\r\n  [Other]\r\nName=2\r\n") << QByteArray();
        QTest::newRow("lf only") << QByteArray("[System]\nA=1\nName=v\n") << QByteArray("v");
        QTest::newRow("mixed line ends") << QByteArray("[Other]\nName=1\r\n[System]\rA=1\nName=v") << QByteArray("v");
        QTest::newRow("double quotes") << QByteArray("[System]\r\nName=\" Jo, Smith \"\r\n")
                                       << QByteArray(" Jo, Smith ");
        QTest::newRow("blanks around") << QByteArray("[System]\r\n Name = \tv w \r\n") << QByteArray("v w");
        QTest::newRow("header with a trailing blank") << QByteArray("[System] \r\nName=v\r\n") << QByteArray("v");
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[System]\r\nName=v\r\n") << QByteArray("v");
        QTest::newRow("missing section") << QByteArray("[Other]\r\nName=1\r\n") << QByteArray();
    }

    void lookups() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, value);
        const QByteArray read = ini::readKey(text, "SYSTEM", "nAME");
        QCOMPARE(read.isNull(), value.isNull());
        QCOMPARE(read, value);
        // What the writer writes reads back as it was, also a value that quotes itself.
        for (const QByteArray& v : {QByteArray(" Jo "), QByteArray("'x'"), QByteArray("a=b")})
            QCOMPARE(ini::readKey(ini::writeKey(text, "System", "Name", v), "system", "name"), v);
    }

    // The rewrite keeps every other byte where other programs expect it.
    void writeKey_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("new key goes first, earlier section left alone")
            << QByteArray("[Other]\r\nMon=1\r\n\r\n[System]\r\nLogin=1\r\n") << QByteArray("Mon")
            << QByteArray("[Other]\r\nMon=1\r\n\r\n[System]\r\nMon=True\r\nLogin=1\r\n");
        QTest::newRow("value holding [ is an entry for the writer too")
            << QByteArray("[System]\r\nA=x [y]\r\nMon=1\r\n[Other]\r\n") << QByteArray("Mon")
            << QByteArray("[System]\r\nA=x [y]\r\nMon=True\r\n[Other]\r\n");
        QTest::newRow("lf only file is rewritten with cr lf, no second section")
            << QByteArray("[System]\nMon=1\n\nL=2\n") << QByteArray("Mon")
            << QByteArray("[System]\r\nMon=True\r\n\r\nL=2\r\n");
        QTest::newRow("cr only file, new key")
            << QByteArray("[System]\rL=2\r") << QByteArray("Mon")
            << QByteArray("[System]\r\nMon=True\r\nL=2\r\n");
        QTest::newRow("header with a trailing blank: no second section")
            << QByteArray("[System] \r\nLogin=1\r\n") << QByteArray("Mon")
            << QByteArray("[System] \r\nMon=True\r\nLogin=1\r\n");
        QTest::newRow("indented entry replaced, byte-order mark kept")
            << QByteArray("\xEF\xBB\xBF[System]\r\n  mon = 1\r\n") << QByteArray("Mon")
            << QByteArray("\xEF\xBB\xBF[System]\r\nMon=True\r\n");
        QTest::newRow("replace a value, blank-line runs collapse")
            << QByteArray("[System]\r\nMon=\r\n\r\n\r\n\r\n[Other]\r\nB=2\r\n") << QByteArray("mon")
            << QByteArray("[System]\r\nmon=True\r\n\r\n[Other]\r\nB=2\r\n");
    }

    void writeKey() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        QCOMPARE(ini::writeKey(text, "System", key, "True"), expected);
    }

    void profileLookupCutsLongValues() {
        QTemporaryDir dir;
        const QString path = dir.filePath("corvidapp.ini");
        QVERIFY(putFile(path, "[System]\r\nDisplayName=" + QByteArray(800, 'n') + "\r\n"));
        QCOMPARE(GetProfileKey("System", "DisplayName", path), QString(749, QLatin1Char('n')));
        // A character is never split: 748 ASCII characters then one outside the basic plane.
        const QByteArray clef = QStringLiteral("\U0001D11E").toUtf8();
        QVERIFY(putFile(path, "[System]\r\nDisplayName=" + QByteArray(748, 'n') + clef + "tail\r\n"));
        QCOMPARE(GetProfileKey("System", "DisplayName", path), QString(748, QLatin1Char('n')));
    }

    void failedWriteKeepsOldFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("corvidapp.ini");
        const QByteArray old = "[System]\r\nLogin=1234\r\n";
        QVERIFY(putFile(path, old));
        {
            FileSizeLimit limit(old.size() + 8); // the new text cannot be written in full
            QVERIFY(limit.ok());
            QVERIFY(!ini::WriteIniKeyFile(path, "System", "DisplayName", QString(400, QLatin1Char('d'))));
        }
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"corvidapp.ini"});
    }

    void unreachableFileIsNotWritten_data() {
        QTest::addColumn<QString>("relative");
        QTest::newRow("parent is a file") << QStringLiteral("blocker/corvidapp.ini");
        QTest::newRow("target is a folder") << QStringLiteral("folder");
    }

    void unreachableFileIsNotWritten() {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(putFile(dir.filePath("blocker"), "keep me"));
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        QVERIFY(!ini::WriteIniKeyFile(dir.filePath(relative), "System", "Mon", "True"));
        QCOMPARE(fileBytes(dir.filePath("blocker")), QByteArray("keep me"));
        QVERIFY(QFileInfo(dir.filePath("folder")).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"blocker", "folder"}));
    }

    // Site defaults: the agent's file wins whenever it holds the key (even empty), then the first
    // folder of XDG_CONFIG_DIRS holding the key, then /etc; both readers, other files never fall back.
    void siteDefaults_data() {
        QTest::addColumn<QByteArray>("agent");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QByteArray agent("[System]\r\nCrmHost=agent.example\r\nForward=\r\n");
        QTest::newRow("agent's value") << agent << "corvidapp.ini" << "CrmHost" << "agent.example";
        QTest::newRow("agent's empty value") << agent << "corvidapp.ini" << "Forward" << "";
        QTest::newRow("first site folder") << agent << "corvidapp.ini" << "ProviderDomain" << "first.example";
        QTest::newRow("second site folder") << agent << "corvidapp.ini" << "SipOutboundProxy" << "second";
        QTest::newRow("other file") << agent << "websettings.ini" << "ProviderDomain" << "";
        QTest::newRow("no agent file") << QByteArray() << "corvidapp.ini" << "TlsMode" << "agent-less";
    }

    void siteDefaults() {
        QFETCH(QByteArray, agent);
        QFETCH(QString, file);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("first/corvid-dialer") && QDir(dir.path()).mkpath("second/corvid-dialer"));
        // Written as an administrator's editor would: LF line ends, blanks, quotes.
        QVERIFY(putFile(dir.filePath("first/corvid-dialer/site.ini"),
                        "[System]\nCrmHost = site.example\nForward=5551234567\nProviderDomain = \"first.example\"\n"
                        "TlsMode=agent-less\n"));
        const QByteArray second("[System]\nProviderDomain=second.example\nSipOutboundProxy=second\n");
        QVERIFY(putFile(dir.filePath("second/corvid-dialer/site.ini"), second));
        const QByteArray oldDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", (dir.filePath("first") + ":relative:" + dir.filePath("second")).toLocal8Bit());
        auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_DIRS", oldDirs); });
        const QString path = dir.filePath(file);
        if (!agent.isNull()) QVERIFY(putFile(path, agent));
        QCOMPARE(ReadIniKey(path, "System", key), expected);
        QCOMPARE(GetProfileKey("System", key, path), expected);
        QCOMPARE(fileBytes(dir.filePath("second/corvid-dialer/site.ini")), second); // never written
    }

    void siteFileLookupEndsInEtc() {
        QCOMPARE(site::siteFileCandidates(QString()),
                 QStringList({"/etc/xdg/corvid-dialer/site.ini", "/etc/corvid-dialer/site.ini"}));
        QCOMPARE(site::siteFileCandidates("/opt/a/:/etc"),
                 QStringList({"/opt/a/corvid-dialer/site.ini", "/etc/corvid-dialer/site.ini"}));
    }

    // List files: fields split at commas and line ends, quotes, blanks. That a quoted field comes back
    // whole whatever it holds or trails is the listfile fuzz target's; the caps are checked on real
    // files by the window tests.
    void listFields_data() {
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

    void listFields() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QCOMPARE(readListFields(content, 99), expected);
    }

    void missingListFileIsEmptyAndNotMade() {
        QTemporaryDir dir;
        QVERIFY(readListFile(dir.filePath("agentlist.txt"), AgentListMaxFields).isEmpty());
        QVERIFY(!QFile::exists(dir.filePath("agentlist.txt")));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
