// The engine without a SIP peer (loopback only, nothing is sent): refusals before the start and
// after the stop, taken ports, injected numbers, empty saves, a missing codec, offline volumes; and
// the adapter's pure rules: the check on dialled numbers and the wave files it reads, writes and
// joins (that a join holds exactly the samples of the parts of the first part's format, in order,
// whatever the part files hold, is the wavejoin fuzz target's).

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "engine/SipDatagram.h"
#include "engine/StunBinding.h"
#include "engine/WaveFile.h"
#include "engine/linphone/EngineRules.h"
#include "engine/linphone/LibraryFixes.h"
#include "engine/linphone/LinphoneEngine.h"
#include "engine/linphone/RecordingParts.h"
#include "support/FileSizeLimit.h"
#include "testbed/TestBed.h"
#include "unit/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <functional>

#include <linphone/core.h>

using namespace corvid;
using namespace corvid::engine_rules;
using namespace corvid::test;

namespace {

QString writeFile(const QString& path, const QByteArray& bytes) {
    return putFile(path, bytes) ? path : QString();
}

// A 16-bit PCM file whose samples all have the given value.
QString writeWave(const QString& path, int rate, int channels, int frames, qint16 value) {
    QByteArray samples;
    for (int i = 0; i < frames * channels; ++i) {
        char b[2];
        qToLittleEndian<qint16>(value, reinterpret_cast<uchar*>(b));
        samples.append(b, 2);
    }
    return writeFile(path, waveHeader(rate, channels, samples.size()) + samples);
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

    static bool start(LinphoneEngine& engine, int port, QString* localAddress = nullptr) {
        QString address;
        const bool ok = engine.EngineStart(false, address, port, QStringLiteral("1001"), QStringLiteral("1001"),
                                           QStringLiteral("secret1001"), QStringLiteral("Agent"),
                                           QStringLiteral("pbx1234.example.test"),
                                           QStringLiteral("pbx1234.example.test"), QString(), false, 2);
        if (localAddress) *localAddress = address;
        return ok;
    }

    // Every operation that answers a Boolean, with arguments that would be fine on a started engine.
    static QList<QPair<const char*, std::function<bool(LinphoneEngine&)>>> booleanOperations() {
        using Op = std::function<bool(LinphoneEngine&)>;
        // clang-format off
#define OP(call) {#call, Op([](LinphoneEngine& e) { [[maybe_unused]] QString s = QStringLiteral("9001"); return e.call; })}
        return {OP(RegisterToProxy(1800)), OP(OpenLine(0, false, s, 7000)), OP(PlaceCall(0, s, -1, -1)), OP(EndCall(0)),
                OP(AnswerCall(0, s, -1, -1)), OP(RefuseCall(s)), OP(HoldCall(0)), OP(ResumeCall(0)),
                OP(TransferCall(0, s)), OP(JoinLines(0, 1)), OP(ForwardCalls(true, s)), OP(SendDtmfDigit(0, "5")),
                OP(SetMicMute(true)), OP(SetSpeakerMute(true)), OP(MuteLineSpeaker(0, true)), OP(MuteLineMic(0, true)),
                OP(SetMicVolume(100)), OP(SetSpeakerVolume(100)), OP(AgcOn(8000)), OP(EnableCodec(3)),
                OP(DisableCodec(3)), OP(StartRecording(0, 2, true)), OP(StopRecording(0)),
                OP(SaveRecording(0, "/tmp/x.wav")), OP(RecordingLineOp(0)), OP(PlayWaveOpen(0, "/tmp/x.wav")),
                OP(PlayWaveStart(0, false)), OP(PlayWavePause(0)), OP(PlayWaveStop(0)), OP(PlayWavePosition(0, 2)),
                OP(IsLineOpen(0)), OP(IsLineBusy(0)), OP(IsLineOnHold(0)), OP(IsLinePlayingWave(0)),
                OP(ChatAddContact("1002")), OP(ChatRemoveContact("1002")), OP(ChatSetStatus(0)),
                OP(ChatSendMessage("1002", "hi", 101, 0))};
        // clang-format on
#undef OP
    }

    void expectAllRefused(LinphoneEngine& engine) {
        for (const auto& op : booleanOperations()) {
            engine.ResetRecording(0); // void operations must not crash either
            QVERIFY2(!op.second(engine), op.first);
            QVERIFY2(engine.LastErrorCode() == EngineError::NotOnline,
                     qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(op.first)).arg(engine.LastErrorCode())));
        }
        QVERIFY(engine.PlayWaveGetPosition(0) == 0 && engine.MicLevel() == 0 && engine.SpeakerLevel() == 0 &&
                engine.InputDeviceCount() == 0 && engine.OutputDeviceName(0).isEmpty());
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

    // The library's own address text is cut at 1,024 bytes; the program's replacement, which the
    // library calls through its symbol table, gives the whole address back.
    void libraryAddressTextIsWhole_data() {
        QTest::addColumn<QByteArray>("address");
        QTest::newRow("display name 1,100") << "\"" + QByteArray(1100, 'N') + "\" <sip:ann@example.org>";
        QTest::newRow("display name 1,010") << "\"" + QByteArray(1010, 'N') + "\" <sip:ann@example.org>";
        QTest::newRow("user part 1,018") << "<sip:" + QByteArray(1018, 'u') + "@example.org>";
    }
    void libraryAddressTextIsWhole() {
        QFETCH(QByteArray, address);
        QVERIFY(engine_impl::libraryFixesInForce()); // the library of the series they were checked on
        LinphoneAddress* parsed = linphone_address_new(address.constData());
        QVERIFY(parsed);
        char* text = linphone_address_as_string(parsed);
        char* uri = linphone_address_as_string_uri_only(parsed);
        const QByteArray whole(text), uriOnly(uri);
        ms_free(text);
        ms_free(uri);
        linphone_address_unref(parsed);
        QCOMPARE(whole, address.startsWith('<') ? address.mid(1, address.size() - 2) : address);
        QCOMPARE(uriOnly, address.mid(address.indexOf('<') + 1).chopped(1));
    }

    // What reaches the library's parser on the SIP port: whole, plainly formed messages (display
    // names and bodies may hold any byte: the window cleans them) and keep-alives. A refused datagram
    // is one that left the library's stream parser mid-message or handed it a header it trusts.
    void datagramsTheLibraryMayRead_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("admitted");
        const QByteArray sdp = "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\n"
                               "m=audio 4000 RTP/AVP 0\r\n";
        const QByteArray invite =
            "INVITE sip:1001@127.0.0.1:5782 SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1;branch=z9hG4bK1\r\n"
            "Max-Forwards: 70\r\nFrom: \"Caller\" <sip:9001@127.0.0.1>;tag=1\r\nTo: <sip:1001@h>\r\n"
            "Call-ID: c1@h\r\nCSeq: 7 INVITE\r\nContact: <sip:9001@127.0.0.1:5060>\r\n"
            "Content-Type: application/sdp\r\nContent-Length: " +
            QByteArray::number(sdp.size()) + "\r\n\r\n" + sdp;
        const auto with = [&invite](const QByteArray& from, const QByteArray& to) {
            return QByteArray(invite).replace(from, to);
        };
        QByteArray message =
            "MESSAGE sip:1001@h SIP/2.0\r\nv: SIP/2.0/UDP h\r\nf: \"\x01\x1b[31m\xff\" <sip:a%0D%0A@h>;tag=1"
            "\r\nt: <sip:1001@h>\r\ni: m1\r\nCSeq: 1 MESSAGE\r\nc: text/plain\r\nl: 5\r\n\r\nhe";
        message += '\0';
        message += "lo";
        QTest::newRow("INVITE") << invite << true;
        QTest::newRow("MESSAGE, compact, odd bytes") << message << true;
        QTest::newRow("challenge to a REGISTER")
            << QByteArray(
                   "SIP/2.0 401 Unauthorized\r\nVia: SIP/2.0/UDP 127.0.0.1:5782;rport=5782\r\nFrom: <sip:1@p>;tag=a"
                   "\r\nTo: <sip:1@p>;tag=b\r\nCSeq: 20 REGISTER\r\nCall-ID: ~x\r\nWWW-Authenticate: Digest "
                   "realm=\"p\", nonce=\"n\"\r\nContent-Length: 0\r\n\r\n")
            << true;
        QTest::newRow("keep-alive") << QByteArray("\r\n\r\n") << true;
        QTest::newRow("header block never ends") << invite.left(invite.indexOf("\r\n\r\n")) << false;
        QTest::newRow("bare CR") << with("70\r\n", "70\r") << false;
        QTest::newRow("folded") << with("70\r\n", "70\r\n  more\r\n") << false;
        QTest::newRow("NUL in a header") << with("c1@h", QByteArray("c1\0h", 4)) << false;
        QTest::newRow("trailing bytes") << invite + "x" << false;
        QTest::newRow("huge Content-Length") << with("Content-Length: ", "Content-Length: 999997777") << false;
        QTest::newRow("gzip") << QByteArray(message).replace("c: text", "Content-Encoding: gzip\r\nc: text") << false;
        QTest::newRow("CSeq of another method") << with("7 INVITE", "7 BYE") << false;
        QTest::newRow("no Call-ID") << with("Call-ID: c1@h\r\n", "") << false;
        QTest::newRow("two To") << with("To:", "To: <sip:x@h>\r\nTo:") << false;
        QTest::newRow("not a token") << with("To:", "\x92o:") << false;
        QTest::newRow("empty request address") << with("INVITE sip:1001@127.0.0.1:5782", "INVITE sip:") << false;
        QTest::newRow("REGISTER to the phone") << with("INVITE", "REGISTER") << false;
        QTest::newRow("Record-Route without address")
            << with("Contact:", "Record-Route: conference\r\nContact:") << false;
        QTest::newRow("scheme inside a long name")
            << with("<sip:9001", "<" + QByteArray(3000, 'A') + "sip:9001") << false;
        QTest::newRow("Replaces without tags") << with("Contact:", "Replaces: <sip:x@h;lr>\r\nContact:") << false;
        QTest::newRow("Expires past 31 bits") << with("Contact:", "Expires: 4294967296\r\nContact:") << false;
        QTest::newRow("SDP that is not") << with("v=0", "w=0") << false;
        const QByteArray subscribe =
            with("INVITE", "SUBSCRIBE").replace("Contact:", "Event: presence\r\nExpires: 600\r\nContact:");
        QTest::newRow("SUBSCRIBE to presence") << subscribe << true;
        QTest::newRow("SUBSCRIBE to refer") << QByteArray(subscribe).replace("presence", "refer") << false;
        QTest::newRow("SUBSCRIBE without Expires") << QByteArray(subscribe).replace("Expires: 600\r\n", "") << false;
        const QByteArray notify =
            QByteArray(subscribe).replace("SUBSCRIBE", "NOTIFY").replace("Expires: 600", "Subscription-State: active");
        QTest::newRow("NOTIFY of message-summary") << QByteArray(notify).replace("presence", "message-summary") << true;
        QTest::newRow("NOTIFY of refer outside a subscription")
            << QByteArray(notify).replace("presence", "refer") << false;
        QTest::newRow("NOTIFY of refer in a subscription")
            << QByteArray(notify).replace("presence", "refer").replace("<sip:1001@h>", "<sip:1001@h>;tag=9") << true;
        QTest::newRow("long event package") << QByteArray(notify)
                                                   .replace("presence", QByteArray(3000, 'r'))
                                                   .replace("<sip:1001@h>", "<sip:1001@h>;tag=9")
                                            << false;
        QTest::newRow("sips address on UDP") << with("INVITE sip:", "INVITE sips:") << false;
        QTest::newRow("headers in the request address") << with("5782 SIP", "5782?Call-ID=x SIP") << false;
        QTest::newRow("option tag with parameters")
            << with("Contact:", "Require: 1800;refresher=uas\r\nContact:") << false;
        QTest::newRow("Call-ID not ASCII") << with("c1@h", "c1@\x85h") << false;
        QTest::newRow("multipart") << QByteArray(message).replace("c: text/plain", "c: multipart/mixed;boundary=b")
                                   << false;
    }
    void datagramsTheLibraryMayRead() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, admitted);
        const std::string_view why = sip_datagram::refusal({datagram.constData(), size_t(datagram.size())});
        QVERIFY2(why.empty() == admitted, std::string(why).c_str());
    }

    // The STUN keep-alive's answer counts only for the ping that waits for it, and nothing SIP
    // looks like STUN (a STUN message on the SIP port never reaches the library).
    void stunAnswersCountOnlyForTheirPing() {
        stun_binding::Id id{};
        id.fill(7);
        const stun_binding::Request ping = stun_binding::request(id);
        const auto answer = [&ping](char type, const QByteArray& attributes) {
            QByteArray m(ping.data(), int(ping.size()));
            m[0] = 0x01; // a response of the binding method
            m[1] = type;
            m[3] = char(attributes.size());
            return m + attributes;
        };
        const QByteArray mapped("\x00\x20\x00\x08\x00\x01\x13\x88\x5e\x12\xa4\x43", 12);
        QVERIFY(stun_binding::answers(answer(0x01, mapped).toStdString(), id));              // success
        QVERIFY(stun_binding::answers(answer(0x11, QByteArray(8, 'e')).toStdString(), id)); // error
        QVERIFY(!stun_binding::answers(answer(0x01, mapped.left(8)).toStdString() + "xxxx", id));
        QVERIFY(!stun_binding::answers(answer(0x01, {}).toStdString(), {}));
        QVERIFY(!stun_binding::answers({ping.data(), ping.size()}, id)); // the ping itself
        QVERIFY(stun_binding::isStun({ping.data(), ping.size()}));
        for (const char* sip : {"\r\n\r\n", "SIP/2.0 200 OK\r\nVia: SIP/2.0/UDP h\r\n\r\n", "OPTIONS sip:h SIP/2.0\r\n\r\n"})
            QVERIFY2(!stun_binding::isStun(sip), sip);
    }

    void startsOnLoopbackInFileMode() {
        LinphoneEngine engine(options(QStringLiteral("start")));
        expectAllRefused(engine); // not started yet
        const int port = freeUdpPort();
        QString address;
        QVERIFY(start(engine, port, &address));
        QCOMPARE(address, QStringLiteral("127.0.0.1"));
        QVERIFY(engine.usesSoundFiles());
        // The library's files go into the data folder, not next to it.
        QVERIFY(QFile::exists(m_dir.filePath(QStringLiteral("start/engine.rc"))));

        // Stopped, it frees the port, refuses everything and starts again.
        engine.EngineStop();
        QVERIFY(QUdpSocket().bind(QHostAddress::LocalHost, quint16(port)));
        expectAllRefused(engine);
        QVERIFY(start(engine, freeUdpPort()));
        engine.EngineStop();
    }

    // A port another dialer of this host has claimed (it is about to bind it) is in use, for SIP and RTP.
    void portClaimedByAnotherDialerIsInUse() {
        const int port = freeUdpPort(2);
        const int claim = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        const QByteArray name = "corvid-dialer-udp-" + QByteArray::number(port);
        std::memcpy(sa.sun_path + 1, name.constData(), size_t(name.size()));
        QVERIFY(::bind(claim, reinterpret_cast<sockaddr*>(&sa),
                       socklen_t(offsetof(sockaddr_un, sun_path) + 1 + size_t(name.size()))) == 0);
        LinphoneEngine engine(options(QStringLiteral("claimed")));
        QVERIFY(!start(engine, port));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::PortInUse));
        QVERIFY(start(engine, freeUdpPort()));
        QString address;
        QVERIFY(!engine.OpenLine(0, false, address, port));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::PortInUse));
        ::close(claim);
        QVERIFY(engine.OpenLine(0, false, address, port));
        engine.EngineStop();
    }

    void lineAndValueChecks() {
        LinphoneEngine engine(options(QStringLiteral("lines")));
        QVERIFY(start(engine, freeUdpPort()));
        QString address;
        auto code = [&] { return engine.LastErrorCode(); };

        // RTP ports: the line's own pair must be free, also of the other lines' pairs.
        const int rtp = freeUdpPort(4);
        QVERIFY(rtp > 0);
        QVERIFY(engine.OpenLine(0, false, address, rtp));
        QVERIFY(!engine.OpenLine(1, false, address, rtp + 1));
        QCOMPARE(code(), int(EngineError::PortInUse));
        {
            QUdpSocket holder;
            QVERIFY(holder.bind(QHostAddress::LocalHost, quint16(rtp + 2)));
            QVERIFY(!engine.OpenLine(1, false, address, rtp + 2));
            QCOMPARE(code(), int(EngineError::PortInUse));
        }
        QVERIFY(engine.OpenLine(1, false, address, rtp + 2));

        // Numbers that are not dialable never reach the library.
        QString injected = QStringLiteral("9001\r\nVia: x");
        QVERIFY(!engine.PlaceCall(0, injected, -1, -1));
        QCOMPARE(code(), int(EngineError::InvalidUri));

        // A save into a missing folder fails (a save with nothing recorded: the engine's line test).
        QVERIFY(!engine.SaveRecording(0, m_dir.filePath(QStringLiteral("no/folder/x.wav"))));
        QCOMPARE(code(), int(EngineError::WaveWrite));

        // With no codec left, a call has no offer to make.
        engine.DeselectAllCodecs();
        QString number = QStringLiteral("9001");
        QVERIFY(!engine.PlaceCall(0, number, -1, -1));
        QCOMPARE(code(), int(EngineError::Sdp));
        engine.EngineStop();
    }

    // Volumes and gain control chosen while offline are kept (the answer is still False, code 10)
    // and given to the library when the engine starts; a value out of range is not kept.
    void audioSettingsMadeOfflineApplyOnStart() {
        LinphoneEngine engine(options(QStringLiteral("offline-audio")));
        const auto refused = [&](bool answer, int code) { return !answer && engine.LastErrorCode() == code; };
        QVERIFY(refused(engine.SetMicVolume(100), EngineError::NotOnline));
        QVERIFY(refused(engine.SetSpeakerVolume(25), EngineError::NotOnline));
        QVERIFY(refused(engine.AgcOn(8000), EngineError::NotOnline));
        QVERIFY(refused(engine.SetMicVolume(300), EngineError::InvalidValue));

        QVERIFY(start(engine, freeUdpPort()));
        QCOMPARE(engine.MicVolume(), 100);
        QCOMPARE(engine.SpeakerVolume(), 25);
        // What the library was given: -6 dB and -18 dB, gain control on.
        QVERIFY(engine.agcApplied());
        QVERIFY2(qAbs(engine.micGainDb() + 6.02f) < 0.1f, qPrintable(QString::number(engine.micGainDb())));
        QVERIFY2(qAbs(engine.playbackGainDb() + 18.06f) < 0.1f, qPrintable(QString::number(engine.playbackGainDb())));
        engine.EngineStop();
    }

    void dialTargets_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("target");
        QTest::newRow("blanks around") << QStringLiteral("  9001 ") << QStringLiteral("9001");
        QTest::newRow("feature code") << QStringLiteral("*551001") << QStringLiteral("*551001");
        QTest::newRow("sip address") << QStringLiteral("sip:1002@pbx1234.example.test")
                                     << QStringLiteral("sip:1002@pbx1234.example.test");
        QTest::newRow("inner blank") << QStringLiteral("555 1234") << QString();
        QTest::newRow("sip without host") << QStringLiteral("sip:1002") << QString();
        QTest::newRow("header injection") << QStringLiteral("sip:1@h>\r\nX: y") << QString();
    }
    void dialTargets() {
        QFETCH(QString, number);
        QFETCH(QString, target);
        QCOMPARE(dialTarget(number), target);
    }

    // Only a refusal that speaks of registration is worth one REGISTER and a second attempt.
    void refusedAsUnregisteredOnlyWhenSaid() {
        QVERIFY(refusedAsUnregistered(403, QStringLiteral("Not registered")));
        QVERIFY(refusedAsUnregistered(404, QStringLiteral("User Unregistered")));
        QVERIFY(!refusedAsUnregistered(403, QStringLiteral("Forbidden")));
        QVERIFY(!refusedAsUnregistered(404, QStringLiteral("Not Found")));
        QVERIFY(!refusedAsUnregistered(503, QStringLiteral("Registrar unavailable")));
    }

    // Who may ask for auto-answer (the top Via as the library leaves it, against the proxy
    // 127.0.0.1:5070, or the name pbx.test looked up to 10.0.0.5), and what asks it.
    void autoAnswerRequests_data() {
        QTest::addColumn<QString>("via");
        QTest::addColumn<QString>("callInfo");
        QTest::addColumn<QString>("alertInfo");
        QTest::addColumn<int>("after"); // -1: not answered by itself
        const QString proxy = QStringLiteral("SIP/2.0/UDP 127.0.0.1:5070;branch=z9hG4bKa"), ask = "<x>;answer-after=0";
        QTest::newRow("answer-after 5") << proxy << "<sip:x>;answer-after=5"
                                        << "" << 5;
        QTest::newRow("alert-autoanswer") << proxy << ""
                                          << "<http://x>;info=alert-autoanswer" << 0;
        QTest::newRow("auto answer, delay") << proxy << ""
                                            << "info=Auto Answer;delay=2" << 2;
        QTest::newRow("huge, capped") << proxy << "<x>;answer-after=99999999999999"
                                      << "" << 3600;
        QTest::newRow("no request") << proxy << "<sip:x>;purpose=icon"
                                    << "<http://x/ring>" << -1;
        QTest::newRow("other port") << "SIP/2.0/UDP 127.0.0.1:5099;branch=a" << ask << "" << -1;
        QTest::newRow("rport says other port") << "SIP/2.0/UDP 127.0.0.1:5070;rport=5099" << ask << "" << -1;
        QTest::newRow("came from elsewhere") << "SIP/2.0/UDP 127.0.0.1:5070;received=127.0.0.2" << ask << "" << -1;
        QTest::newRow("forged received") << "SIP/2.0/UDP 10.9.9.9:5070;received=127.0.0.1" << ask << "" << -1;
        QTest::newRow("the name's address") << "SIP/2.0/UDP 10.0.0.5:5060" << ask << "" << 0;
        QTest::newRow("the name") << "SIP/2.0/UDP PBX.test;branch=a" << ask << "" << 0;
    }
    void autoAnswerRequests() {
        QFETCH(QString, via);
        QFETCH(QString, callInfo);
        QFETCH(QString, alertInfo);
        QFETCH(int, after);
        const bool proxy = via.contains(QLatin1String("127.0.0.1"));
        const bool fromServer =
            viaFromServer(via, proxy ? QStringLiteral("127.0.0.1:5070") : QStringLiteral("pbx.test"),
                          {QStringLiteral("10.0.0.5")}, false);
        QCOMPARE(fromServer ? autoAnswerAfter(callInfo, alertInfo) : -1, after);
    }

    void waveHeaderCheck() {
        QTemporaryDir dir;
        WaveInfo info;
        // A recording that was never closed has a zero data size: its samples run to the end.
        const QString unclosed = writeFile(dir.filePath("unclosed.wav"), waveHeader(8000, 1, 0) + QByteArray(1600, 0));
        QCOMPARE(readWaveInfo(unclosed, &info), WaveCheck::Ok);
        QCOMPARE(info.durationMs(), qint64(100));
        // A data size beyond the end of the file is cut to what is there.
        const QString liar = writeFile(dir.filePath("liar.wav"), waveHeader(8000, 1, 1000) + QByteArray(10, 0));
        QCOMPARE(readWaveInfo(liar, &info), WaveCheck::Ok);
        QCOMPARE(info.dataBytes, qint64(10));
    }

    void silentWaveCostsNoSpace() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("silence.wav"));
        QVERIFY(writeSilentWave(path, 8000, 3600));
        WaveInfo info;
        QCOMPARE(readWaveInfo(path, &info), WaveCheck::Ok);
        QCOMPARE(info.durationMs(), qint64(3600 * 1000));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        // 57.6 MB of samples, stored as a hole.
        QVERIFY2(qint64(st.st_blocks) * 512 < 1024 * 1024, qPrintable(QString::number(st.st_blocks)));
    }

    // A join that runs out of space (the file-size limit stands in for a full disk) fails and
    // leaves the file already at the target as it was, with no temporary file beside it.
    void joinOnAFullDiskKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString part = writeWave(dir.filePath(QStringLiteral("part.wav")), 8000, 1, 800, 1000);
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("out"))));
        const QString target = dir.filePath(QStringLiteral("out/saved.wav"));
        const QByteArray old = fileBytes(writeWave(target, 8000, 1, 100, 5));
        QVERIFY(!old.isEmpty());
        // A folder that is not there fails the same way.
        QCOMPARE(joinWaves({part}, dir.filePath(QStringLiteral("no/such/folder/x.wav"))), WaveJoin::WriteFailed);
        WaveJoin result = WaveJoin::Ok;
        {
            test::FileSizeLimit limit(1024); // the 1,644-byte wave cannot be written in full
            QVERIFY(limit.ok());
            result = joinWaves({part}, target);
        }
        QCOMPARE(result, WaveJoin::WriteFailed);
        QCOMPARE(fileBytes(target), old);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("saved.wav")});
    }

    // A line's recording buffer: each collect turns what the library wrote into a part (a file
    // without samples is dropped), a save joins the parts in order, a discard leaves the folder
    // empty.
    void recordingBufferOfALine() {
        QTemporaryDir dir;
        const QString folder = dir.path() + QLatin1Char('/');
        RecordingParts buffer(folder, QStringLiteral("line1"));
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 800, 1000).isEmpty());
        buffer.collect();
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 0, 0).isEmpty()); // header only
        buffer.collect();
        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 400, -1000).isEmpty());
        buffer.collect();
        QCOMPARE(buffer.parts().size(), 2);
        QVERIFY(!QFile::exists(buffer.recordPath()));

        const QString saved = dir.filePath(QStringLiteral("saved/call.wav"));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("saved"))));
        QCOMPARE(buffer.saveTo(saved), WaveJoin::Ok);
        QCOMPARE(fileBytes(saved).size(), 44 + 2400);

        QVERIFY(!writeWave(buffer.recordPath(), 8000, 1, 80, 1).isEmpty()); // left by a call cut short
        buffer.discard();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
        QCOMPARE(buffer.saveTo(saved), WaveJoin::NothingToJoin);
    }
};

QTEST_GUILESS_MAIN(TestLinphoneEngine)
#include "tst_linphoneengine.moc"
