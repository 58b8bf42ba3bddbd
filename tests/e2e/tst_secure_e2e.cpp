// The window on the real engine, secured, against the loopback test bed with its TLS listeners and
// STUN server: registration over TLS with nothing clear on the wire, refused certificates with a
// plain reason, an SRTP call to a far end that offers SRTP (recorded, with no clear G.711 on the
// wire), a far end that answers SRTP in clear (SRTP mandatory or not), STUN and ICE in the offer,
// and the modes of the files the dialer makes. The certificates are made by the bed with openssl.

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kTlsFailMs = 20000;
constexpr int kTlsRetriesMs = 8000; // the library tries again every few seconds
using Listener = SipTestBed::TlsListener;

// Whether a payload (hex) could be a clear G.711 frame: 20 ms is 160 bytes, and a tone or silence
// repeats few byte values. An SRTP payload carries its 10-byte tag and looks random.
bool looksLikeClearG711(const QString& hex) {
    const QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    if (bytes.size() == 160) return true;
    const QSet<char> distinct(bytes.cbegin(), bytes.cend());
    return distinct.size() < 40;
}

} // namespace

class TestSecureE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};
    bool m_wire = false;
    QString m_noWire;

    Settings tls(Listener listener, const Settings& extra = {}) const {
        return extra + Settings{{QStringLiteral("SipTransport"), QStringLiteral("TLS")},
                                {QStringLiteral("TlsCaFile"), m_run.bed->tlsCaFile()},
                                {QStringLiteral("SipOutboundProxy"), m_run.bed->tlsAddress(listener)}};
    }
    QString capturePath(const QString& name) const { return m_run.work.filePath(name + QStringLiteral(".pcapng")); }

private Q_SLOTS:
    void initTestCase() {
        SipTestBed::Options options;
        options.tls = true;
        options.stun = true;
        QVERIFY(m_run.start(options));
        m_wire = WireCapture::available(&m_noWire);
        if (!m_wire) qWarning("no checks on the wire: %s", qPrintable(m_noWire));
    }
    void cleanup() { m_phones.stopAll(); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // Registration over TLS: the registrar holds a TLS contact, the wire to the proxy carries TLS
    // records and no clear SIP at all. A settings file others can read is noted once.
    void registersOverTlsWithNothingClearOnTheWire() {
        WireCapture wire;
        const int tlsPort = m_run.bed->tlsAddress(Listener::Trusted).section(QLatin1Char(':'), 1).toInt();
        if (m_wire)
            QVERIFY(wire.start(QStringLiteral("tcp port %1 or udp port %2").arg(tlsPort).arg(m_run.bed->proxyPort()),
                               capturePath(QStringLiteral("register"))));
        auto w = m_run.window(tls(Listener::Trusted), false);
        QFile::setPermissions(w->fixture.root().settingsFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                    QFileDevice::ReadGroup | QFileDevice::ReadOther);
        QVERIFY(w->waitRegistered());
        const QStringList contacts = m_run.bed->locationContacts(Account1001.user);
        QVERIFY2(contacts.size() == 1 && contacts.first().contains(QLatin1String("transport=tls")),
                 qPrintable(contacts.join(" | ")));
        QCOMPARE(w->logLines.count(QStringLiteral(
                     "The settings file (with the SIP password) can be read by other users of this computer.")),
                 1);
        w.reset(); // offline: the unregistration goes over TLS as well
        QTRY_VERIFY_WITH_TIMEOUT(m_run.bed->locationContacts(Account1001.user).isEmpty(), kEventMs);
        if (!m_wire) return;
        wire.stop();
        const QString tlsDecode = QStringLiteral("tcp.port==%1,tls").arg(tlsPort);
        QCOMPARE(wire.packets(QStringLiteral("frame contains \"SIP/2.0\" or udp"), {"frame.number"}, {tlsDecode}),
                 QStringList{});
        QVERIFY(wire.packets(QStringLiteral("tls.record.content_type == 23"), {"frame.number"}, {tlsDecode}).size() >=
                4);
    }

    // Over TLS no SIP port is open to anyone; a call reaches the phone over the connection it opened.
    void listensNowhereButTakesCallsOverItsConnection() {
        auto w = m_run.window(tls(Listener::Trusted));
        QVERIFY(w);
        QTcpSocket knock;
        knock.connectToHost(QHostAddress::LocalHost, quint16(w->engine->sipPort()));
        QVERIFY(!knock.waitForConnected(2000));
        EnginePhone* caller = m_phones.add({Account1002});
        QVERIFY(caller && caller->place(0, Account1001.user));
        QVERIFY(caller->waitFor("ProvisionalResponse"));
        QVERIFY(caller->engine->EndCall(0));
        w.reset();

        // SipAllowFrom opens the SIP port to the sources it names, and to them only.
        w = m_run.window(tls(Listener::Trusted, {{QStringLiteral("SipAllowFrom"), QStringLiteral("127.0.0.2")}}));
        QVERIFY(w);
        QTcpSocket named, stranger;
        QVERIFY(named.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0));
        named.connectToHost(QHostAddress::LocalHost, quint16(w->engine->sipPort()));
        stranger.connectToHost(QHostAddress::LocalHost, quint16(w->engine->sipPort()));
        QVERIFY(named.waitForConnected(5000));
        QVERIFY(!stranger.waitForConnected(2000));
    }

    // The proxy is given by address (SipOutboundProxy): the certificate is checked for the PBX's name.
    // One that names it registers; any other is refused with the reason, said once although the
    // library keeps trying.
    void certificatesAreCheckedForThePbxName_data() {
        QTest::addColumn<Listener>("listener");
        QTest::addColumn<QString>("why"); // empty: registers
        const QString name("the server's certificate is for another name.");
        QTest::newRow("name and address entries") << Listener::Trusted << QString();
        QTest::newRow("name entry only") << Listener::NameOnly << QString();
        QTest::newRow("CN only") << Listener::CnOnly << QString();
        QTest::newRow("IP entry only") << Listener::IpOnly << name;
        QTest::newRow("wrong name") << Listener::OtherName << name;
        QTest::newRow("expired") << Listener::Expired << "the server's certificate has expired.";
        QTest::newRow("untrusted CA") << Listener::OtherCa
                                      << "the server's certificate is not from a trusted authority.";
    }
    void certificatesAreCheckedForThePbxName() {
        QFETCH(Listener, listener);
        QFETCH(QString, why);
        auto w = m_run.window(tls(listener), false);
        if (why.isEmpty()) {
            QVERIFY(w->waitRegistered());
            QCOMPARE(w->ui().LineSecurity->text(), QStringLiteral("Connection: TLS"));
            return;
        }
        const QString line = QStringLiteral("Failed: no secure connection (TLS) to %1: %2 Tell your IT administrator.")
                                 .arg(m_run.bed->domain(), why);
        QVERIFY(w->waitLogged(line, kTlsFailMs));
        QVERIFY(!QTest::qWaitFor([&] { return w->logLines.count(line) > 1; }, kTlsRetriesMs));
        QVERIFY(m_run.bed->locationContacts(Account1001.user).isEmpty());
    }

    // SRTP to a far end that offers it: both ends run SRTP, the window says so once, no clear
    // G.711 crosses the wire, the recording has the call's length, and the files are private.
    void srtpCallToAFarEndWithSrtp() {
        PhoneSetup far;
        far.account = Account1002;
        far.security.srtp = true;
        EnginePhone* farEnd = m_phones.add(far);
        QVERIFY(farEnd);
        auto w = m_run.window(tls(Listener::Trusted, {{QStringLiteral("MediaEncryption"), QStringLiteral("SRTP")},
                                                      {QStringLiteral("recordAll"), QStringLiteral("True")}}));
        QVERIFY(w);
        WireCapture wire;
        // Between the two ends' RTP ports only: other programs on this machine may use the same ports.
        const int rtpPort = w->engine->lineRtpPort(0);
        const QString between =
            QStringLiteral("udp port %1 and udp port %2").arg(rtpPort).arg(farEnd->engine->lineRtpPort(0));
        if (m_wire) QVERIFY(wire.start(between, capturePath(QStringLiteral("srtp"))));

        w->dial(Account1002.user);
        QVERIFY(farEnd->answer(0));
        QVERIFY(w->connected());
        QElapsedTimer call;
        call.start();
        QVERIFY(farEnd->engine->IsLineEncrypted(0));
        QCOMPARE(w->logLines.count(QStringLiteral("Line- 1: The call is encrypted (SRTP).")), 1);
        QTRY_COMPARE(w->ui().LineSecurity->text(), QStringLiteral("Connection: TLS; call: SRTP"));
        QTest::qWait(2500); // the call's length
        // The far end hangs up: its BYE reaches the phone over the phone's own TLS connection.
        QVERIFY(farEnd->engine->EndCall(0));
        QVERIFY(w->waitLogged(QStringLiteral("Line- 1: Hung up.")));
        const qint64 callMs = call.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!w->callLogRows().isEmpty(), kEventMs);

        const QStringList waves = w->recordings();
        QCOMPARE(waves.size(), 1);
        const int ms = waveDurationMs(waves.first());
        QVERIFY2(qAbs(ms - callMs) < 700, qPrintable(QStringLiteral("%1 of %2 ms").arg(ms).arg(callMs)));

        // What the dialer created is its user's alone (the owner's, group's and others' bits).
        const InstallRoot& root = w->fixture.root();
        QStringList modes;
        for (const QString& path :
             {waves.first(), root.logFile("Demo Agent_calllogs.csv"), root.binFile(QStringLiteral("websettings.ini")),
              root.logs(), root.messages(), root.datalink(), root.engineDataDir()})
            modes << QString::number(QFileInfo(path).permissions().toInt() & 0x7077, 16);
        QCOMPARE(modes, (QStringList{"6000", "6000", "6000", "7000", "7000", "7000", "7000"}));

        if (!m_wire) return;
        wire.stop();
        const QStringList payloads = wire.packets(QStringLiteral("rtp.p_type == 0 && rtp.payload"), {"rtp.payload"},
                                                  {QStringLiteral("udp.port==%1,rtp").arg(rtpPort)});
        QVERIFY2(payloads.size() >= 100, qPrintable(QString::number(payloads.size())));
        QCOMPARE(std::count_if(payloads.cbegin(), payloads.cend(), looksLikeClearG711), 0);
    }

    // A far end that answers the SRTP offer with clear RTP (RTP/AVP), twice in a row: with SRTP
    // mandatory each call fails with the message and leaves its row; with SRTP optional each goes
    // on in clear, the window says so, and the far end's hang-up leaves the row.
    void farEndAnsweringInClear_data() {
        QTest::addColumn<bool>("mandatory");
        QTest::newRow("SRTP mandatory") << true;
        QTest::newRow("SRTP optional") << false;
    }
    void farEndAnsweringInClear() {
        QFETCH(bool, mandatory);
        auto w = m_run.window(tls(Listener::Trusted, {{QStringLiteral("MediaEncryption"), QStringLiteral("SRTP")},
                                                      {QStringLiteral("MediaEncryptionMandatory"),
                                                       mandatory ? QStringLiteral("True") : QStringLiteral("False")}}));
        QVERIFY(w);
        const QString line =
            mandatory ? QStringLiteral("The far end does not accept encrypted audio (SRTP): the call is not made.")
                      : QStringLiteral("Line- 1: The far end does not accept encrypted audio (SRTP): the "
                                       "call goes on in clear.");
        for (int call = 1; call <= 2; ++call) {
            w->logLines.clear();
            w->dial(BedNumber::HangUp);
            QVERIFY(w->waitLogged(line));
            // In clear the call is placed again: it connects after the line that says so.
            if (mandatory)
                QVERIFY(!w->logged(QStringLiteral("Line- 1: Success to connect.")));
            else
                QVERIFY(w->waitLogged(QStringLiteral("Line- 1: Success to connect.")));
            QVERIFY(!w->logged(QStringLiteral("Line- 1: The call is encrypted (SRTP).")));
            if (mandatory) QTest::mouseClick(w->ui().BtnHangUp, Qt::LeftButton); // the agent ends the failed call
            QTRY_COMPARE_WITH_TIMEOUT(w->callLogRows().size(), call, kEventMs);
            QVERIFY2(w->hasRow(call - 1, BedNumber::HangUp, mandatory ? QStringLiteral("hang up") : QString()),
                     qPrintable(w->callLogRows().join(" | ")));
        }
    }

    // STUN and ICE: the offer carries ICE candidates and a binding request reaches the STUN server.
    void stunAndIceInTheOffer() {
        WireCapture wire;
        if (m_wire)
            QVERIFY(wire.start(QStringLiteral("udp port %1").arg(m_run.bed->stunPort()),
                               capturePath(QStringLiteral("stun"))));
        auto w = m_run.window({{QStringLiteral("StunServer"), m_run.bed->stunAddress()},
                               {QStringLiteral("IceEnabled"), QStringLiteral("True")}});
        QVERIFY(w);
        w->dial(BedNumber::Answer);
        QVERIFY(w->connected());
        QVERIFY(m_run.bed->farEndMessages(SipTestBed::FarEnd::Answer).contains(QLatin1String("a=candidate:")));
        if (!m_wire) return;
        wire.stop();
        QVERIFY(!wire.packets(QStringLiteral("stun.type == 0x0001"), {"frame.number"},
                              {QStringLiteral("udp.port==%1,stun").arg(m_run.bed->stunPort())})
                     .isEmpty());
    }
};

QTEST_MAIN(TestSecureE2e)
#include "tst_secure_e2e.moc"
