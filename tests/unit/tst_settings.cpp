// The settings store: the reader, the writer and the profile lookup on their own bytes, and the
// file-level behaviour (missing files, encodings, the atomic rewrite).

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace corvid;
using corvid::test::FileSizeLimit;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return f.readAll();
}

bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

// One row of a lookup table: the file's text, the key looked up in section "System" and the value
// expected (nullptr: not found).
struct LookupRow {
    const char* tag;
    const char* text;
    const char* key;
    const char* expected;
};

static void addLookupRows(std::initializer_list<LookupRow> rows) {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");
    for (const LookupRow& row : rows)
        QTest::newRow(row.tag) << QByteArray(row.text) << QByteArray(row.key) << QByteArray(row.expected);
}

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void readKey_data() {
        addLookupRows({
            {"header and key in capitals", "[SYSTEM]\r\nLOGIN=1234\r\n", "login", "1234"},
            {"value keeps case and blanks", "[System]\r\nName= Jo Smith \r\n", "Name", " Jo Smith "},
            {"blanks around equals", "[System]\r\nName = Jo\r\n", "Name", nullptr},
            {"value holding [ is never found", "[System]\r\nA=x[y\r\nB=2\r\n", "A", nullptr},
            {"value holding [ ends the section", "[System]\r\nA=x[y\r\nB=2\r\n", "B", nullptr},
            {"section twice is searched twice", "[System]\r\nA=x[y\r\nB=2\r\n[Other]\r\nC=1\r\n[system]\r\nB=3\r\n",
             "B", "3"},
            {"key twice: first wins", "[System]\r\nK=1\r\nK=2\r\n", "K", "1"},
            {"lf only reads as one line", "[System]\nK=v\n", "K", nullptr},
            {"non-ascii bytes kept", "[System]\r\nName=J\xc3\xb6rg \xe9\r\n", "Name", "J\xc3\xb6rg \xe9"},
        });
    }

    void readKey() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        const QByteArray actual = ini::readKey(text, "System", key);
        QCOMPARE(actual.isNull(), expected.isNull());
        QCOMPARE(actual, expected);
    }

    void writeKey_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("expected");
        const struct {
            const char* tag;
            const char* text;
            const char* section;
            const char* key;
            const char* value;
            const char* expected;
        } rows[] = {
            {"empty file", "", "System", "K", "V", "[System]\r\nK=V\r\n"},
            {"replace a value", "[System]\r\nLogin=1234\r\nMon=True\r\n", "System", "Mon", "",
             "[System]\r\nLogin=1234\r\nMon=\r\n"},
            {"new key goes first", "[System]\r\nLogin=1234\r\n", "System", "Mon", "True",
             "[System]\r\nMon=True\r\nLogin=1234\r\n"},
            {"key of an earlier section is left alone", "[Other]\r\nMon=1\r\n\r\n[System]\r\nLogin=1\r\n", "System",
             "Mon", "True", "[Other]\r\nMon=1\r\n\r\n[System]\r\nMon=True\r\nLogin=1\r\n"},
            {"new section after several blank lines", "[Other]\r\nA=1\r\n\r\n\r\n\r\n", "System", "K", "V",
             "[Other]\r\nA=1\r\n\r\n[System]\r\nK=V\r\n"},
            {"section twice: first gets the key", "[System]\r\nA=1\r\n[Other]\r\nB=2\r\n[System]\r\nK=old\r\n",
             "System", "K", "new", "[System]\r\nK=new\r\nA=1\r\n[Other]\r\nB=2\r\n[System]\r\nK=old\r\n"},
            {"header on the last line without line break starts a new section", "[System]", "System", "K", "V",
             "[System]\r\n\r\n[System]\r\nK=V\r\n"},
            {"value holding [ ends the section for the writer too", "[System]\r\nA=x[y\r\nK=1\r\n", "System", "K", "2",
             "[System]\r\nK=2\r\nA=x[y\r\nK=1\r\n"},
            {"lf only file gets a section of its own", "[System]\nK=1\nL=2\n", "System", "K", "9",
             "[System]\nK=1\nL=2\n\r\n\r\n[System]\r\nK=9\r\n"},
            {"blank-line runs collapse", "[System]\r\nA=1\r\n\r\n\r\n\r\n[Other]\r\nB=2\r\n", "System", "A", "3",
             "[System]\r\nA=3\r\n\r\n[Other]\r\nB=2\r\n"},
            {"leading and trailing control characters stripped", "\t\r\n[System]\r\nA=1\r\n\t\r\n\x01", "System", "K",
             "V", "[System]\r\nK=V\r\nA=1\r\n"},
            {"new section keeps the caller's spelling", "[System]\r\nA=1\r\n", "Web", "Top", "10",
             "[System]\r\nA=1\r\n\r\n[Web]\r\nTop=10\r\n"},
        };
        for (const auto& row : rows)
            QTest::newRow(row.tag) << QByteArray(row.text) << QByteArray(row.section) << QByteArray(row.key)
                                   << QByteArray(row.value) << QByteArray(row.expected);
    }

    void writeKey() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, section);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, expected);
        QCOMPARE(ini::writeKey(text, section, key, value), expected);
    }

    void profileKey_data() {
        addLookupRows({
            {"lf only", "[System]\nA=1\nLogin=1234\n", "login", "1234"},
            {"blanks trimmed", "  [ System ]  \r\n\tLogin  =  12 34 \t\r\n", "login", "12 34"},
            {"double quotes", "[System]\r\nName=\" Jo, Smith \"\r\n", "name", " Jo, Smith "},
            {"unmatched quotes kept", "[System]\r\nName=\"Jo'\r\n", "name", "\"Jo'"},
            {"value holding [", "[System]\r\nA=x[y]\r\nB=2\r\n", "b", "2"},
            {"entry without equals", "[System]\r\nK\r\n", "k", ""},
            {"missing section", "[Other]\r\nK=1\r\n", "k", nullptr},
        });
    }

    void profileKey() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, expected);
        const QByteArray actual = ini::profileKey(text, "System", key);
        QCOMPARE(actual.isNull(), expected.isNull());
        QCOMPARE(actual, expected);
    }

    // Many generated files: after a write, both lookups find the new value, every other key reads as
    // before, and the file has the writer's shape.
    void writeThenReadOnRandomFiles() {
        QRandomGenerator rng(20261206);
        const QList<QByteArray> sections = {"System", "SYSTEM", "Other", "web"};
        const QList<QByteArray> keyNames = {"Login", "login", "MON", "a", "LastNumber"};
        const QList<QByteArray> pieces = {"x", "7", " ", "True", "\xc3\xb6", "\xe9", "=", ";", "a b"};
        const auto pick = [&](const QList<QByteArray>& from) { return from.at(rng.bounded(int(from.size()))); };
        const auto randomValue = [&] {
            QByteArray v;
            for (int n = rng.bounded(4); n > 0; --n)
                v += pick(pieces);
            return v;
        };
        const QList<QByteArray> distinctSections = {"system", "other", "web"};
        const QList<QByteArray> distinctKeys = {"login", "mon", "a", "lastnumber"};

        for (int round = 0; round < 2000; ++round) {
            QByteArray text;
            for (int lines = rng.bounded(10); lines > 0; --lines) {
                switch (rng.bounded(4)) {
                case 0:
                    text += "[" + pick(sections) + "]";
                    break;
                case 1:
                    break; // a blank line
                default:
                    text += pick(keyNames) + "=" + randomValue();
                }
                if (lines > 1 || rng.bounded(2)) text += "\r\n";
            }
            const QByteArray section = pick(sections);
            const QByteArray key = pick(keyNames);
            const QByteArray value = randomValue();
            const QByteArray out = ini::writeKey(text, section, key, value);
            const QByteArray context = "file: " + text.toPercentEncoding() + " write " + section + "/" + key;

            const QByteArray readBack = ini::readKey(out, section, key);
            QVERIFY2(!readBack.isNull() && readBack == value, context.constData());
            QVERIFY2(ini::profileKey(out, section, key) == value.trimmed(), context.constData());
            QVERIFY2(out.endsWith("\r\n") && !out.contains("\r\n\r\n\r\n") &&
                         static_cast<unsigned char>(out.at(0)) > 13,
                     context.constData());
            for (const QByteArray& s : distinctSections) {
                for (const QByteArray& k : distinctKeys) {
                    if (s == section.toLower() && k == key.toLower()) continue;
                    QVERIFY2(ini::readKey(out, s, k) == ini::readKey(text, s, k),
                             (context + " read " + s + "/" + k).constData());
                }
            }
        }
    }

    void readCreatesMissingFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("corvidapp.ini");
        QCOMPARE(GetProfileKey("System", "Mon", path), QString()); // the profile lookup makes no file
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(ReadIniKey(path, "System", "Mon"), QString());
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(QFileInfo(path).size(), 0);
    }

    void writeCreatesMissingFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath("websettings.ini");
        WriteIniKey(path, "System", "CLICK", "ON");
        WriteIniKey(path, "System", "Click", "ON");
        QCOMPARE(fileBytes(path), QByteArray("[System]\r\nClick=ON\r\n"));
        // No temporary file is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"websettings.ini"});
    }

    void writeThenReadRoundTrips_data() {
        QTest::addColumn<QString>("value");
        QTest::newRow("800 characters") << QString(800, QLatin1Char('7'));
    }

    void writeThenReadRoundTrips() {
        QFETCH(QString, value);
        QTemporaryDir dir;
        const QString path = dir.filePath("corvidapp.ini");
        QVERIFY(putFile(path, "[System]\r\nLogin=1234\r\n\r\n[Other]\r\nLastNumber=x\r\n"));
        QVERIFY(ini::WriteIniKeyFile(path, keys::System, keys::LastNumber, value));
        QCOMPARE(ReadIniKey(path, "system", "lastnumber"), value);
        QCOMPARE(ReadIniKey(path, keys::System, keys::Login), QStringLiteral("1234"));
        QCOMPARE(ReadIniKey(path, "Other", keys::LastNumber), QStringLiteral("x"));
        QCOMPARE(GetProfileKey(keys::System, keys::LastNumber, path), value.trimmed().left(ini::ProfileValueMaxChars));
    }

    void readOnlyFileIsMadeWritable() {
        QTemporaryDir dir;
        const QString path = dir.filePath("corvidapp.ini");
        QVERIFY(putFile(path, "[System]\r\nMon=True\r\n"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        QCOMPARE(ReadIniKey(path, "System", "Mon"), QStringLiteral("True"));
        QVERIFY(QFileInfo(path).permissions() & QFileDevice::WriteOwner);
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
        const QByteArray old = "[System]\r\nLogin=1234\r\nMon=True\r\n";
        QVERIFY(putFile(path, old));
        bool written = true;
        {
            FileSizeLimit limit(old.size() + 8); // the new text cannot be written in full
            QVERIFY(limit.ok());
            written = ini::WriteIniKeyFile(path, "System", "DisplayName", QString(400, QLatin1Char('d')));
        }
        QVERIFY(!written);
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"corvidapp.ini"});
        // Once space is back, the same write goes through.
        QVERIFY(ini::WriteIniKeyFile(path, "System", "DisplayName", "Jo"));
        QCOMPARE(fileBytes(path), QByteArray("[System]\r\nDisplayName=Jo\r\nLogin=1234\r\nMon=True\r\n"));
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
        const QString path = dir.filePath(relative);
        QVERIFY(!ini::WriteIniKeyFile(path, "System", "Mon", "True"));
        QCOMPARE(ReadIniKey(path, "System", "Mon"), QString());
        QCOMPARE(fileBytes(dir.filePath("blocker")), QByteArray("keep me"));
        QVERIFY(QFileInfo(dir.filePath("folder")).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"blocker", "folder"}));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
