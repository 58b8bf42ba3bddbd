// Faults the dialer lives through, on the real window and engine against the loopback PBX: the
// registrar restarted during a call, the logs and messages folders taken away, a full disk, the
// sound server killed during a recorded call. The call and the window go on, and what could not be
// written is said with where.

#include "support/BedWindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/mount.h>
#include <unistd.h>

using namespace corvid;
using namespace corvid::test;

namespace {

const QString kUnsaved = QStringLiteral("Recording not saved: could not write ");

bool loggedStartingWith(const BedWindow& p, const QString& start) {
    return std::any_of(p.logLines.cbegin(), p.logLines.cend(), [&](const QString& l) { return l.startsWith(start); });
}

} // namespace

class TestFaultsE2e : public QObject {
    Q_OBJECT

    BedRun m_run;

    // A registered window recording every call, on the sound card when asked, with the extra
    // settings; before() runs on the fresh install root.
    std::unique_ptr<BedWindow> phone(bool soundCard = false, const Settings& extra = {},
                                     const std::function<void(BedWindow&)>& before = {}) {
        auto p = std::make_unique<BedWindow>();
        if (before) before(*p);
        p->start(*m_run.bed, {Account1001, QStringLiteral("Demo Agent"), m_run.tone(1000),
                              extra + Settings{{QStringLiteral("recordAll"), QStringLiteral("True")}}});
        p->ui().CheckCaptureSoundDevice->setChecked(soundCard);
        return p->waitRegistered() ? std::move(p) : nullptr;
    }
    static Settings checkEvery(const QString& seconds) { return {{QStringLiteral("RegistrarCheckSeconds"), seconds}}; }
    // A call to the far end that answers, recorded; fault() runs a second in, the agent hangs up
    // after ms.
    static bool recordedCall(BedWindow& p, int ms, const std::function<void()>& fault) {
        p.dial(BedNumber::Answer);
        if (!p.connected() || !QTest::qWaitFor([&] { return p.ui().CheckStartRecording->isChecked(); }, 2000))
            return false;
        QTest::qWait(1000);
        fault();
        QTest::qWait(ms - 1000);
        QTest::mouseClick(p.ui().BtnHangUp, Qt::LeftButton);
        return QTest::qWaitFor([&] { return !p.engine->IsLineBusy(0) && p.ui().callsec->text() == "0"; }, 5000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start({12000, true})); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // First: the sound library connects to the sound server once per process. The sound server
    // is killed, or hangs (stopped), during a recorded call on the sound card: its ALSA default
    // device (through ALSA's PulseAudio plugin) or the library's own PulseAudio device. Killed, the
    // call moves to the file devices (held and resumed at once) and goes on; its recording has the
    // call's length and its end holds the play file the call sends again. Hung, holding the call
    // never ends: the window does not wait for it, the call is ended as the agent's hang-up would,
    // with what was recorded. Either way the row is there and the window closes.
    void soundServerFailsDuringARecordedCall_data() {
        QTest::addColumn<QString>("device"); // the start of the device's name in the lists
        QTest::addColumn<int>("signal");
        QTest::newRow("killed, ALSA default device") << QStringLiteral("default") << SIGKILL;
        QTest::newRow("killed, PulseAudio device") << QStringLiteral("Null ") << SIGKILL;
        QTest::newRow("hung, PulseAudio device") << QStringLiteral("Null ") << SIGSTOP;
    }
    void soundServerFailsDuringARecordedCall() {
        QFETCH(QString, device);
        QFETCH(int, signal);
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        NullSoundCard card;
        QVERIFY2(card.start(), qPrintable(card.errorString()));
        card.applyToEnvironment();
        auto p = phone(true);
        QVERIFY(p && !p->engine->usesSoundFiles());
        for (QListWidget* list : {p->ui().ListAudioIn, p->ui().ListAudioOut}) {
            const auto rows = list->findItems(device, Qt::MatchStartsWith | Qt::MatchCaseSensitive);
            QVERIFY(!rows.isEmpty());
            list->setCurrentItem(rows.first());
        }
        const bool goesOn = signal == SIGKILL;
        // Hung, the call outlasts the silence check and the bound of the switch.
        QVERIFY(recordedCall(*p, goesOn ? 9000 : 14000, [&] { ::kill(pid_t(card.pid()), signal); }));
        QCOMPARE(
            p->logged(QStringLiteral("The sound device stopped: calls go on without your microphone and speaker.")),
            goesOn);
        QCOMPARE(p->logged(QStringLiteral("Line- 1: Call ended: the sound device stopped and does not answer.")),
                 !goesOn);
        QVERIFY(p->hasRow(0, BedNumber::Answer, QStringLiteral("hang up")));
        const QStringList waves = p->recordings();
        QCOMPARE(waves.size(), 1);
        const int ms = waveDurationMs(waves.first());
        QVERIFY2(goesOn ? qAbs(ms - 1000 * p->rowSeconds()) < 1500 : ms > 800, qPrintable(QString::number(ms)));
        QVERIFY(!goesOn || toneLevel(waves.first(), 1000, ms - 2000) > 0.02);
        p.reset(); // the engine stops with the sound server gone
    }

    // The registrar dies during a call and comes back: the call goes on to the far end's hang-up,
    // the status log says that the server does not answer (found by the registrar check, every 2 s
    // here), the phone registers again by itself. A proxy that answers STUN is checked by the
    // keep-alive alone, at no request; one that does not, by a REGISTER each time.
    void registrarRestartedDuringACall_data() {
        QTest::addColumn<bool>("stun");
        QTest::newRow("the proxy answers STUN") << true;
        QTest::newRow("the proxy does not") << false;
    }
    void registrarRestartedDuringACall() {
        QFETCH(bool, stun);
        const auto asBefore = qScopeGuard([this] { QVERIFY(m_run.bed->restartProxy()); });
        if (!stun) QVERIFY(m_run.bed->restartProxy(false));
        auto p = phone(false, checkEvery(QStringLiteral("2")));
        QVERIFY(p);
        p->dial(BedNumber::HangUp);
        QVERIFY(p->connected());
        const auto registers = [this] { return m_run.bed->proxyLog().count(QStringLiteral("REQ REGISTER")); };
        const int before = registers();
        if (stun)
            QTRY_VERIFY_WITH_TIMEOUT(p->engine->registrarKeepAliveAnswers() >= 3, 10000);
        else
            QTRY_VERIFY_WITH_TIMEOUT(registers() >= before + 2, 10000);
        QCOMPARE(registers() == before, stun);
        QCOMPARE(p->engine->registrarKeepAliveAnswers() > 0, stun);
        m_run.bed->killProxy();
        QVERIFY(p->waitLogged(QStringLiteral("The SIP server does not answer. Trying again..."), 12000));
        QVERIFY(m_run.bed->restartProxy(stun));
        QVERIFY(p->waitLogged(QStringLiteral("The SIP server answers again: registered.")));
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), 12000);
        QVERIFY(p->hasRow(0, BedNumber::HangUp, QString()) && p->rowSeconds() >= 11); // the call went on
    }

    // The registrar restarts while the agent is idle, with a registrar check too rare to notice it.
    // Over TLS the dropped connection is said at once and the phone registers again by itself. Over
    // UDP nothing tells the phone, and the restarted registrar refuses its next call ("403 Not
    // registered"): the phone registers, the call is made again and connects, no failure is said.
    void registrarRestartedWhileIdle_data() {
        QTest::addColumn<bool>("tls");
        QTest::newRow("tls: the dropped connection") << true;
        QTest::newRow("udp: the refused call") << false;
    }
    void registrarRestartedWhileIdle() {
        QFETCH(bool, tls);
        // The keep-alive's check as rare as the REGISTER's.
        Settings extra = checkEvery(QStringLiteral("300")) + Settings{{QStringLiteral("SipKeepAliveSeconds"), QStringLiteral("0")}};
        if (tls)
            extra += {{QStringLiteral("SipTransport"), QStringLiteral("TLS")},
                      {QStringLiteral("TlsCaFile"), m_run.bed->tlsCaFile()},
                      {QStringLiteral("SipOutboundProxy"), m_run.bed->tlsAddress(SipTestBed::TlsListener::Trusted)}};
        auto p = phone(false, extra);
        QVERIFY(p);
        const QString silent = QStringLiteral("The SIP server does not answer. Trying again...");
        m_run.bed->killProxy();
        if (tls) QVERIFY(p->waitLogged(silent, 5000));
        QVERIFY(m_run.bed->restartProxy());
        if (tls) QVERIFY(p->waitLogged(QStringLiteral("The SIP server answers again: registered.")));
        p->logLines.clear();
        p->dial(QStringLiteral("9403"));
        QVERIFY(p->connected());
        QCOMPARE(m_run.bed->proxyLog().count(QStringLiteral("REQ INVITE sip:9403@")), tls ? 1 : 2);
        QVERIFY(!p->logged(silent));
        QVERIFY2(p->logLines.filter(QStringLiteral("registered")).isEmpty(),
                 qPrintable(p->logLines.join(QLatin1Char(10))));
        QTest::mouseClick(p->ui().BtnHangUp, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!p->engine->IsLineBusy(0), 5000);
    }

    // Removed while the dialer runs, the folders are made again; replaced by files (not writable,
    // even for root), the status log names the row and the recording that were not written.
    void logsAndMessagesFoldersTakenAway() {
        auto p = phone();
        QVERIFY(p);
        const InstallRoot& root = p->fixture.root();
        for (bool replaced : {false, true}) {
            QVERIFY(recordedCall(*p, 2000, [&] {
                for (const QString& folder : {root.logs(), root.messages()}) {
                    QDir(folder).removeRecursively();
                    if (replaced) QFile(folder).open(QIODevice::WriteOnly);
                }
            }));
            QCOMPARE(p->callLogRows().size() + p->recordings().size(), replaced ? 0 : 2);
            QCOMPARE(loggedStartingWith(*p, kUnsaved + QDir::toNativeSeparators(root.messages() + '/')), replaced);
            const QString log = QDir::toNativeSeparators(root.logFile(QStringLiteral("Demo Agent_calllogs.csv")));
            QCOMPARE(p->logged(QStringLiteral("Not written: could not write ") + log + '.'), replaced);
        }
    }

    // A full disk (a small file system as install root): the recording that cannot be saved is
    // said, the row still fits into the log's last block, the settings keep their content.
    void diskFull() {
        QByteArray rootPath;
        auto p = phone(false, {}, [&](BedWindow& w) {
            rootPath = QFile::encodeName(w.fixture.rootPath());
            if (::mount("corvid-full", rootPath.constData(), "tmpfs", 0, "size=4m") != 0) rootPath.clear();
            else w.fixture.writeFile(QStringLiteral("logs/Demo Agent_calllogs.csv"), "\"1\",\"Demo Agent\",\"1\",\"x\",\"y\",\"\"\r\n");
        });
        auto unmount = qScopeGuard([&] {
            p.reset();
            if (!rootPath.isEmpty() && ::umount2(rootPath.constData(), MNT_DETACH) == 0) ::rmdir(rootPath.constData());
        });
        if (rootPath.isEmpty()) QSKIP("a small file system cannot be mounted here (needs root)");
        QVERIFY(p);
        const QByteArray settings = p->fixture.readFile(QStringLiteral("bin/corvidapp.ini"));
        QFile filler(p->fixture.rootPath() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {}

        QVERIFY(recordedCall(*p, 2000, [] {})); // its number is not stored: the settings cannot be rewritten
        QVERIFY(p->hasRow(1, BedNumber::Answer, QStringLiteral("hang up")));
        QVERIFY(p->recordings().isEmpty() && loggedStartingWith(*p, kUnsaved));
        QCOMPARE(p->fixture.readFile(QStringLiteral("bin/corvidapp.ini")), settings);
    }

};

QTEST_MAIN(TestFaultsE2e)
#include "tst_faults_e2e.moc"
