// Faults the dialer lives through, on the real window and engine against the loopback PBX: the
// registrar killed and restarted during a call, the logs and messages folders taken away, a full
// disk, the sound server killed during a recorded call. Each time the call and the window go on,
// and what could not be written is said, with where.

#include "settings/IniFile.h"
#include "support/BedWindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kCallMs = 12000; // the far end that hangs up keeps the call this long
const QString kRecordAll = QStringLiteral("recordAll");

QStringList recordings(const BedWindow& p) {
    return QDir(p.fixture.root().messages()).entryList({QStringLiteral("*.wav")}, QDir::Files);
}

bool loggedStartingWith(const BedWindow& p, const QString& start) {
    return std::any_of(p.logLines.cbegin(), p.logLines.cend(), [&](const QString& l) { return l.startsWith(start); });
}

// The call-log row's seconds ("0" when there is no row).
int rowSeconds(const BedWindow& p, int index = 0) {
    return p.callLogRows().value(index).section(QLatin1Char(','), 2, 2).remove(QLatin1Char('"')).toInt();
}

} // namespace

class TestFaultsE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;

    std::unique_ptr<BedWindow> started(std::unique_ptr<BedWindow> p, QList<QPair<QString, QString>> extra = {}) {
        p->start(*m_run.bed, {Account1001, QStringLiteral("Demo Agent"), m_run.tone(1000), extra});
        return p;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start({kCallMs})); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // The registrar dies during a call and comes back: the call goes on to its end and its row,
    // the status log says that the server does not answer, and the phone registers again by itself.
    void registrarRestartedDuringACall() {
        auto p = started(std::make_unique<BedWindow>());
        LinphoneEngine::Options options = p->engine->options();
        options.registrationProbeMs = 2000;
        p->engine->setOptions(options);
        QVERIFY(p->waitRegistered());
        p->dial(BedNumber::HangUp);
        QVERIFY(p->connected());

        m_run.bed->killProxy();
        QVERIFY(p->waitLogged(QStringLiteral("The SIP server does not answer. Trying again..."), 8000));
        QVERIFY(m_run.bed->restartProxy());
        QTRY_VERIFY_WITH_TIMEOUT(!m_run.bed->locationContacts(Account1001.user).isEmpty(), 8000);
        QVERIFY(p->waitLogged(QStringLiteral("The SIP server answers again: registered.")));
        QVERIFY(p->callLogRows().isEmpty()); // the call is still up

        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kCallMs);
        QVERIFY(p->hasRow(0, BedNumber::HangUp, QString()));
        QVERIFY2(rowSeconds(*p) >= kCallMs / 1000 - 1, qPrintable(p->callLogRows().join(" | ")));
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
    }

    // Removed while the dialer runs, the folders are made again for the next row and recording;
    // replaced by files (a folder that cannot be written), the status log says what was not written.
    void logsAndMessagesFoldersTakenAway() {
        auto p = started(std::make_unique<BedWindow>(), {{kRecordAll, QStringLiteral("True")}});
        QVERIFY(p->waitRegistered());
        const InstallRoot& root = p->fixture.root();
        for (bool replaced : {false, true}) {
            p->dial(BedNumber::Answer);
            QVERIFY(p->connected());
            QTRY_VERIFY_WITH_TIMEOUT(p->ui().CheckStartRecording->isChecked(), 2000);
            QTest::qWait(1000);
            for (const QString& folder : {root.logs(), root.messages()}) {
                QVERIFY(QDir(folder).removeRecursively());
                if (replaced) QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
            }
            p->logLines.clear();
            QTest::mouseClick(p->ui().BtnHangUp, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(p->ui().callsec->text() == QLatin1String("0"), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(!p->engine->IsLineBusy(0), 5000);
            QCOMPARE(p->callLogRows().size(), replaced ? 0 : 1);
            QCOMPARE(recordings(*p).size(), replaced ? 0 : 1);
            QCOMPARE(loggedStartingWith(*p, QStringLiteral("Recording not saved: could not write ") +
                                                QDir::toNativeSeparators(root.messages() + QLatin1Char('/'))),
                     replaced);
            QCOMPARE(p->logged(QStringLiteral("Not written: could not write ") +
                               QDir::toNativeSeparators(root.logFile(QStringLiteral("Demo Agent_calllogs.csv"))) +
                               QLatin1Char('.')),
                     replaced);
        }
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
    }

    // A full disk (a small file system as install root): the recording that cannot be saved is
    // said, the row still fits into the log's last block, and the settings keep their content.
    void diskFull() {
        auto p = std::make_unique<BedWindow>();
        const QByteArray rootPath = QFile::encodeName(p->fixture.rootPath());
        if (::mount("corvid-full", rootPath.constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("a small file system cannot be mounted here (needs root)");
        struct Unmount {
            QByteArray path;
            ~Unmount() {
                ::umount2(path.constData(), MNT_DETACH);
                ::rmdir(path.constData());
            }
        } unmount{rootPath};
        const QString csv = QStringLiteral("logs/Demo Agent_calllogs.csv");
        p->fixture.writeFile(csv, "\"9001\",\"Demo Agent\",\"1\",\"x\",\"y\",\"\"\r\n");
        p = started(std::move(p), {{kRecordAll, QStringLiteral("True")}});
        QVERIFY(p->waitRegistered());
        const QByteArray settings = p->fixture.readFile(QStringLiteral("bin/corvidapp.ini"));

        // The disk fills up.
        QFile filler(p->fixture.rootPath() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {}
        filler.close();

        p->dial(BedNumber::Answer); // its number is not stored: the settings cannot be rewritten
        QVERIFY(p->connected());
        QTRY_VERIFY_WITH_TIMEOUT(p->ui().CheckStartRecording->isChecked(), 2000);
        QTest::qWait(2000);
        QTest::mouseClick(p->ui().BtnHangUp, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(p->callLogRows().size(), 2, 5000);
        QVERIFY(p->hasRow(1, BedNumber::Answer, QStringLiteral("hang up")));
        QVERIFY(recordings(*p).isEmpty());
        QVERIFY(loggedStartingWith(*p, QStringLiteral("Recording not saved: could not write ")));
        QCOMPARE(p->fixture.readFile(QStringLiteral("bin/corvidapp.ini")), settings);
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
        p.reset();
    }

    // The sound server dies during a recorded call on the sound card: the call goes on, and when
    // the far end or the agent ends it, its row and its recording of the call's length are there.
    void soundServerKilledDuringARecordedCall_data() {
        QTest::addColumn<bool>("agentHangsUp");
        QTest::newRow("far end hangs up") << false;
        QTest::newRow("agent hangs up") << true;
    }
    void soundServerKilledDuringARecordedCall() {
        QFETCH(bool, agentHangsUp);
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        NullSoundCard card;
        QVERIFY2(card.start(), qPrintable(card.errorString()));
        card.applyToEnvironment();
        auto p = started(std::make_unique<BedWindow>(), {{kRecordAll, QStringLiteral("True")}});
        p->ui().CheckCaptureSoundDevice->setChecked(true);
        QVERIFY(p->waitRegistered());
        QVERIFY(!p->engine->usesSoundFiles());
        p->dial(BedNumber::HangUp);
        QVERIFY(p->connected());
        QTest::qWait(2000);
        card.stop();

        const int callMs = agentHangsUp ? 5000 : kCallMs;
        if (agentHangsUp) {
            QTest::qWait(callMs - 2000);
            QTest::mouseClick(p->ui().BtnHangUp, Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kCallMs + 5000);
        QVERIFY(p->hasRow(0, BedNumber::HangUp, agentHangsUp ? QStringLiteral("hang up") : QString()));
        const QStringList waves = recordings(*p);
        QCOMPARE(waves.size(), 1);
        const int ms = waveDurationMs(QDir(p->fixture.root().messages()).filePath(waves.first()));
        QVERIFY2(qAbs(ms - callMs) < 1500, qPrintable(QString::number(ms)));
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
        p.reset(); // the engine stops with the sound server gone
    }
};

QTEST_MAIN(TestFaultsE2e)
#include "tst_faults_e2e.moc"
