// The liblinphone engine without a SIP peer: every operation refuses with the right error code
// before the engine starts and after it stops, and with a started engine (loopback only, nothing
// is sent) the line, number, wave, codec and value checks answer False with their codes instead
// of reaching the library.

#include "engine/linphone/LinphoneEngine.h"
#include "engine/linphone/WaveFile.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <functional>

using namespace corvid;

namespace {

int freeUdpPort(int span = 1) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress::LocalHost, 0)) return 0;
        int port = probe.localPort();
        if (span > 1) port &= ~1;
        probe.close();
        bool allFree = true;
        for (int p = port; p < port + span && allFree; ++p) {
            QUdpSocket s;
            allFree = p < 65535 && s.bind(QHostAddress::Any, quint16(p));
        }
        if (allFree) return port;
    }
    return 0;
}

} // namespace

class TestLinphoneEngine : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_deadProxyPort = 0;

    LinphoneEngine::Options options(const QString& sub) const {
        LinphoneEngine::Options o;
        o.dataDir = m_dir.filePath(sub);
        // Nothing listens there and nothing is registered: no packet is sent by these tests.
        o.outboundProxy = QStringLiteral("127.0.0.1:%1").arg(m_deadProxyPort);
        return o;
    }

    bool start(LinphoneEngine& engine, int port, int lines = 2) {
        QString address;
        return engine.EngineStart(false, address, port, QStringLiteral("1001"), QStringLiteral("1001"),
                                  QStringLiteral("secret1001"), QStringLiteral("Agent"),
                                  QStringLiteral("pbx1234.example.test"), QStringLiteral("pbx1234.example.test"),
                                  QString(), false, lines);
    }

    // Every operation that answers a Boolean, with arguments that would be fine on a started engine.
    static QList<QPair<const char*, std::function<bool(LinphoneEngine&)>>> booleanOperations() {
        using Op = std::function<bool(LinphoneEngine&)>;
        return {
            {"RegisterToProxy", Op([](LinphoneEngine& e) { return e.RegisterToProxy(1800); })},
            {"OpenLine", Op([](LinphoneEngine& e) {
                 QString a;
                 return e.OpenLine(0, false, a, 7000);
             })},
            {"PlaceCall", Op([](LinphoneEngine& e) {
                 QString n = QStringLiteral("9001");
                 return e.PlaceCall(0, n, -1, -1);
             })},
            {"EndCall", Op([](LinphoneEngine& e) { return e.EndCall(0); })},
            {"AnswerCall", Op([](LinphoneEngine& e) { return e.AnswerCall(0, QStringLiteral("x"), -1, -1); })},
            {"RefuseCall", Op([](LinphoneEngine& e) { return e.RefuseCall(QStringLiteral("x")); })},
            {"HoldCall", Op([](LinphoneEngine& e) { return e.HoldCall(0); })},
            {"ResumeCall", Op([](LinphoneEngine& e) { return e.ResumeCall(0); })},
            {"TransferCall", Op([](LinphoneEngine& e) { return e.TransferCall(0, QStringLiteral("9001")); })},
            {"JoinLines", Op([](LinphoneEngine& e) { return e.JoinLines(0, 1); })},
            {"ForwardCalls", Op([](LinphoneEngine& e) { return e.ForwardCalls(true, QStringLiteral("9001")); })},
            {"SendDtmfDigit", Op([](LinphoneEngine& e) { return e.SendDtmfDigit(0, QStringLiteral("5")); })},
            {"SetMicMute", Op([](LinphoneEngine& e) { return e.SetMicMute(true); })},
            {"SetSpeakerMute", Op([](LinphoneEngine& e) { return e.SetSpeakerMute(true); })},
            {"MuteLineSpeaker", Op([](LinphoneEngine& e) { return e.MuteLineSpeaker(0, true); })},
            {"MuteLineMic", Op([](LinphoneEngine& e) { return e.MuteLineMic(0, true); })},
            {"SetMicVolume", Op([](LinphoneEngine& e) { return e.SetMicVolume(100); })},
            {"SetSpeakerVolume", Op([](LinphoneEngine& e) { return e.SetSpeakerVolume(100); })},
            {"AgcOn", Op([](LinphoneEngine& e) { return e.AgcOn(8000); })},
            {"EnableCodec", Op([](LinphoneEngine& e) { return e.EnableCodec(3); })},
            {"DisableCodec", Op([](LinphoneEngine& e) { return e.DisableCodec(3); })},
            {"StartRecording", Op([](LinphoneEngine& e) { return e.StartRecording(0, 2, true); })},
            {"StopRecording", Op([](LinphoneEngine& e) { return e.StopRecording(0); })},
            {"SaveRecording", Op([](LinphoneEngine& e) { return e.SaveRecording(0, QStringLiteral("/tmp/x.wav")); })},
            {"RecordingLineOp", Op([](LinphoneEngine& e) { return e.RecordingLineOp(0); })},
            {"PlayWaveOpen", Op([](LinphoneEngine& e) { return e.PlayWaveOpen(0, QStringLiteral("/tmp/x.wav")); })},
            {"PlayWaveStart", Op([](LinphoneEngine& e) { return e.PlayWaveStart(0, false); })},
            {"PlayWavePause", Op([](LinphoneEngine& e) { return e.PlayWavePause(0); })},
            {"PlayWaveStop", Op([](LinphoneEngine& e) { return e.PlayWaveStop(0); })},
            {"PlayWavePosition", Op([](LinphoneEngine& e) { return e.PlayWavePosition(0, 2); })},
            {"IsLineOpen", Op([](LinphoneEngine& e) { return e.IsLineOpen(0); })},
            {"IsLineBusy", Op([](LinphoneEngine& e) { return e.IsLineBusy(0); })},
            {"IsLineOnHold", Op([](LinphoneEngine& e) { return e.IsLineOnHold(0); })},
            {"IsLinePlayingWave", Op([](LinphoneEngine& e) { return e.IsLinePlayingWave(0); })},
            {"ChatAddContact", Op([](LinphoneEngine& e) { return e.ChatAddContact(QStringLiteral("1002")); })},
            {"ChatRemoveContact", Op([](LinphoneEngine& e) { return e.ChatRemoveContact(QStringLiteral("1002")); })},
            {"ChatSetStatus", Op([](LinphoneEngine& e) { return e.ChatSetStatus(0); })},
            {"ChatSendMessage", Op([](LinphoneEngine& e) {
                 return e.ChatSendMessage(QStringLiteral("1002"), QStringLiteral("hi"), 101, 0);
             })},
        };
    }

    void expectAllRefused(LinphoneEngine& engine) {
        for (const auto& op : booleanOperations()) {
            engine.ResetRecording(0); // void operations must not crash either
            QVERIFY2(!op.second(engine), op.first);
            QVERIFY2(engine.LastErrorCode() == EngineError::NotOnline,
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(op.first)).arg(engine.LastErrorCode())));
        }
        QCOMPARE(engine.PlayWaveGetPosition(0), 0);
        QCOMPARE(engine.MicLevel(), 0);
        QCOMPARE(engine.SpeakerLevel(), 0);
        QCOMPARE(engine.InputDeviceCount(), 0);
        QCOMPARE(engine.OutputDeviceName(0), QString());
        engine.ForceInbandDtmfOn(0);
        engine.DeselectAllCodecs();
        engine.EngineStop();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_deadProxyPort = freeUdpPort();
        QVERIFY(m_deadProxyPort > 0);
    }

    void freshEngineRefusesEverything() {
        LinphoneEngine engine(options(QStringLiteral("fresh")));
        QCOMPARE(engine.LastErrorCode(), 0);
        expectAllRefused(engine);
        QCOMPARE(engine.GetLocalAddress(), QStringLiteral("127.0.0.1"));
    }

    void startsOnLoopbackInFileMode() {
        LinphoneEngine engine(options(QStringLiteral("start")));
        const int port = freeUdpPort();
        QString address;
        QVERIFY(engine.EngineStart(false, address, port, QStringLiteral("1001"), QStringLiteral("1001"),
                                   QStringLiteral("pw"), QStringLiteral("Agent"), QStringLiteral("pbx.example.test"),
                                   QStringLiteral("pbx.example.test"), QString(), false, 2));
        QCOMPARE(address, QStringLiteral("127.0.0.1"));
        QVERIFY(engine.isStarted());
        QVERIFY(engine.usesSoundFiles());
        QCOMPARE(engine.sipPort(), port);
        // The library's files go into the data folder (trailing slash handled), not next to it.
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("start/engine.rc"))));
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("start/silence.wav"))));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("startengine.rc"))));
        // The SIP port is really taken now.
        QUdpSocket other;
        QVERIFY(!other.bind(QHostAddress::LocalHost, quint16(port)));

        // Starting twice is refused.
        QVERIFY(!start(engine, freeUdpPort()));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::InvalidValue));

        // A second engine on the same port: port in use, so the window tries the next one.
        LinphoneEngine second(options(QStringLiteral("second")));
        QVERIFY(!start(second, port));
        QCOMPARE(second.LastErrorCode(), int(EngineError::PortInUse));
        QVERIFY(!second.isStarted());

        engine.EngineStop();
        QVERIFY(!engine.isStarted());
        QVERIFY(other.bind(QHostAddress::LocalHost, quint16(port)));
        other.close();
        expectAllRefused(engine);

        // And it starts again after a stop, without the files of the last run.
        const QString leftover = m_dir.filePath(QStringLiteral("start/linphone.db"));
        QFile db(leftover);
        QVERIFY(db.open(QIODevice::WriteOnly));
        db.close();
        QVERIFY(start(engine, freeUdpPort()));
        QVERIFY(QFileInfo(leftover).size() != 0 || !QFile::exists(leftover));
        engine.EngineStop();
    }

    void refusesBadStartArguments_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("code");
        QTest::newRow("no user") << ""
                                 << "pbx.example.test" << 2 << int(EngineError::InvalidUri);
        QTest::newRow("user with blank") << "10 01"
                                         << "pbx.example.test" << 2 << int(EngineError::InvalidUri);
        QTest::newRow("no lines") << "1001"
                                  << "pbx.example.test" << 0 << int(EngineError::InvalidValue);
        QTest::newRow("too many lines") << "1001"
                                        << "pbx.example.test" << 99 << int(EngineError::InvalidValue);
    }
    void refusesBadStartArguments() {
        QFETCH(QString, user);
        QFETCH(QString, domain);
        QFETCH(int, lines);
        QFETCH(int, code);
        LinphoneEngine engine(options(QStringLiteral("bad")));
        QString address;
        QVERIFY(!engine.EngineStart(false, address, freeUdpPort(), user, user, QStringLiteral("pw"), QString(), domain,
                                    domain, QString(), false, lines));
        QCOMPARE(engine.LastErrorCode(), code);
        QVERIFY(!engine.isStarted());
    }

    void lineAndValueChecks() {
        LinphoneEngine engine(options(QStringLiteral("lines")));
        QVERIFY(start(engine, freeUdpPort()));
        QString address;
        auto code = [&] { return engine.LastErrorCode(); };

        // Line numbers outside the table.
        for (int bad : {-1, 2}) {
            QVERIFY(!engine.OpenLine(bad, false, address, 7000));
            QCOMPARE(code(), int(EngineError::InvalidLine));
            QString n = QStringLiteral("9001");
            QVERIFY(!engine.PlaceCall(bad, n, -1, -1));
            QCOMPARE(code(), int(EngineError::InvalidLine));
            QVERIFY(!engine.EndCall(bad));
            QCOMPARE(code(), int(EngineError::InvalidLine));
            QVERIFY(!engine.IsLineBusy(bad));
            QVERIFY(!engine.PlayWaveOpen(bad, QStringLiteral("/nonexistent.wav")));
            QCOMPARE(code(), int(EngineError::InvalidLine));
            engine.ResetRecording(bad);
            engine.ForceInbandDtmfOn(bad);
        }

        // A line that is not open.
        QString number = QStringLiteral("9001");
        QVERIFY(!engine.PlaceCall(0, number, -1, -1));
        QCOMPARE(code(), int(EngineError::LineNotOpen));
        QVERIFY(!engine.IsLineOpen(0));

        // RTP ports: the line's own pair must be free, also of the other lines' pairs.
        const int rtp = freeUdpPort(4);
        QVERIFY(rtp > 0);
        QVERIFY(engine.OpenLine(0, false, address, rtp));
        QVERIFY(engine.IsLineOpen(0));
        QCOMPARE(engine.lineRtpPort(0), rtp);
        QVERIFY(!engine.OpenLine(1, false, address, rtp));
        QCOMPARE(code(), int(EngineError::PortInUse));
        QVERIFY(!engine.OpenLine(1, false, address, rtp + 1));
        QCOMPARE(code(), int(EngineError::PortInUse));
        {
            QUdpSocket holder;
            QVERIFY(holder.bind(QHostAddress::LocalHost, quint16(rtp + 2)));
            QVERIFY(!engine.OpenLine(1, false, address, rtp + 2));
            QCOMPARE(code(), int(EngineError::PortInUse));
        }
        QVERIFY(engine.OpenLine(1, false, address, rtp + 2));
        QVERIFY(!engine.OpenLine(1, false, address, 80));
        QCOMPARE(code(), int(EngineError::InvalidValue));

        // Numbers that are not dialable never reach the library.
        for (const QString& bad : {QString(), QStringLiteral("9001\r\nVia: x")}) {
            QString n = bad;
            QVERIFY(!engine.PlaceCall(0, n, -1, -1));
            QCOMPARE(code(), int(EngineError::InvalidUri));
            QVERIFY(!engine.IsLineBusy(0));
        }

        // Operations that need a call on the line.
        QVERIFY(engine.EndCall(0)); // nothing to end
        for (const auto& op : std::initializer_list<std::function<bool()>>{
                 [&] { return engine.HoldCall(0); }, [&] { return engine.ResumeCall(0); },
                 [&] { return engine.SendDtmfDigit(0, QStringLiteral("5")); },
                 [&] { return engine.TransferCall(0, QStringLiteral("9001")); }, [&] { return engine.JoinLines(0, 1); },
                 [&] { return engine.StartRecording(0, 2, true); }}) {
            QVERIFY(!op());
            QCOMPARE(code(), int(EngineError::NotInVoiceSession));
        }
        QVERIFY(!engine.RecordingLineOp(0));
        QVERIFY(engine.StopRecording(0));
        QVERIFY(!engine.SaveRecording(0, m_dir.filePath(QStringLiteral("nothing.wav"))));
        QCOMPARE(code(), int(EngineError::RecordingInit));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("nothing.wav"))));
        QVERIFY(!engine.SaveRecording(0, m_dir.filePath(QStringLiteral("no/folder/x.wav"))));
        QCOMPARE(code(), int(EngineError::WaveWrite));
        QVERIFY(!engine.AnswerCall(0, QStringLiteral("no-such-call"), -1, -1));
        QCOMPARE(code(), int(EngineError::InvalidCallId));
        QVERIFY(!engine.RefuseCall(QStringLiteral("no-such-call")));
        QCOMPARE(code(), int(EngineError::InvalidCallId));

        // Waves are checked before the call is: missing, unreadable, wrong format.
        QVERIFY(!engine.PlayWaveOpen(0, m_dir.filePath(QStringLiteral("missing.wav"))));
        QCOMPARE(code(), int(EngineError::WaveOpen));
        QFile text(m_dir.filePath(QStringLiteral("text.wav")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("this is no wave file, just some text");
        text.close();
        QVERIFY(!engine.PlayWaveOpen(0, text.fileName()));
        QCOMPARE(code(), int(EngineError::WaveFormat));
        QFile cut(m_dir.filePath(QStringLiteral("cut.wav")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(waveHeader(8000, 1, 100).left(20));
        cut.close();
        QVERIFY(!engine.PlayWaveOpen(0, cut.fileName()));
        QCOMPARE(code(), int(EngineError::WaveRead));
        const QString good = m_dir.filePath(QStringLiteral("good.wav"));
        QVERIFY(writeSilentWave(good, 8000, 1));
        QVERIFY(!engine.PlayWaveOpen(0, good));
        QCOMPARE(code(), int(EngineError::NotInVoiceSession));
        QVERIFY(!engine.PlayWaveStart(0, false));
        QCOMPARE(code(), int(EngineError::WaveOpen));
        QCOMPARE(engine.PlayWaveGetPosition(0), 0);
        QVERIFY(!engine.IsLinePlayingWave(0));

        // Codecs: iLBC is not in this build; unknown numbers are refused the same way.
        QVERIFY(!engine.EnableCodec(1));
        QCOMPARE(code(), int(EngineError::CodecUnsupported));
        engine.DeselectAllCodecs();
        number = QStringLiteral("9001");
        QVERIFY(!engine.PlaceCall(0, number, -1, -1));
        QCOMPARE(code(), int(EngineError::Sdp));
        for (int c : {3, 4, 2, 0})
            QVERIFY(engine.EnableCodec(c));
        QVERIFY(engine.DisableCodec(4));

        // Values.
        QVERIFY(!engine.SetMicVolume(256));
        QCOMPARE(code(), int(EngineError::InvalidValue));
        QVERIFY(!engine.SetSpeakerVolume(-1));
        QVERIFY(engine.SetSpeakerVolume(137));
        QCOMPARE(engine.SpeakerVolume(), 137);
        QVERIFY(engine.AgcOn(8000));
        QVERIFY(!engine.AgcOn(0));
        QVERIFY(!engine.SetEngineInterval(5));
        QVERIFY(engine.SetEngineInterval(30));
        QCOMPARE(engine.pumpIntervalMs(), 30);
        QVERIFY(!engine.RegisterToProxy(0));
        QCOMPARE(code(), int(EngineError::InvalidValue));
        QVERIFY(!engine.ForwardCalls(true, QStringLiteral("")));
        QCOMPARE(code(), int(EngineError::InvalidUri));
        QVERIFY(engine.ForwardCalls(false, QString()));
        QVERIFY(!engine.ChatSetStatus(5));
        QCOMPARE(code(), int(EngineError::InvalidValue));
        QVERIFY(!engine.ChatAddContact(QStringLiteral("a b")));
        QCOMPARE(code(), int(EngineError::InvalidUri));
        QVERIFY(!engine.ChatRemoveContact(QStringLiteral("nobody")));
        QCOMPARE(code(), int(EngineError::InvalidValue));
        QVERIFY(!engine.ChatSendMessage(QStringLiteral("x@y"), QStringLiteral("hi"), 101, 0));
        QCOMPARE(code(), int(EngineError::InvalidUri));
        engine.EngineStop();
    }

    // Volumes and gain control chosen while offline are kept (the answer is still False, code 10)
    // and given to the library when the engine starts; a value out of range is not kept.
    void audioSettingsMadeOfflineApplyOnStart() {
        LinphoneEngine engine(options(QStringLiteral("offline-audio")));
        QVERIFY(!engine.SetMicVolume(100));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::NotOnline));
        QVERIFY(!engine.SetSpeakerVolume(25));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::NotOnline));
        QVERIFY(!engine.AgcOn(8000));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::NotOnline));
        QVERIFY(!engine.SetMicVolume(300));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::InvalidValue));
        QCOMPARE(engine.MicVolume(), 100);
        QCOMPARE(engine.SpeakerVolume(), 25);

        QVERIFY(start(engine, freeUdpPort()));
        QCOMPARE(engine.MicVolume(), 100);
        QCOMPARE(engine.SpeakerVolume(), 25);
        // What the library was given: -6 dB and -18 dB, gain control on.
        QVERIFY(engine.agcApplied());
        QVERIFY2(qAbs(engine.micGainDb() + 6.02f) < 0.1f, qPrintable(QString::number(engine.micGainDb())));
        QVERIFY2(qAbs(engine.playbackGainDb() + 18.06f) < 0.1f, qPrintable(QString::number(engine.playbackGainDb())));
        engine.EngineStop();
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphoneengine.moc"
