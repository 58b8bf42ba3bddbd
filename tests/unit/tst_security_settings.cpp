// The connection settings' rule (transport, TLS checks, media encryption, NAT traversal: defaults,
// wrong values noted by key) and the customer number as the window shows it.

#include "phone/SecuritySettings.h"
#include "window/WindowTitle.h"

#include <QMap>
#include <QTest>

using namespace corvid;

class TestSecuritySettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rule_data() {
        QTest::addColumn<QString>("settings"); // key=value;key=value
        QTest::addColumn<QString>("expected"); // transport ca verify srtp mandatory stun ice
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("none set: clear UDP") << ""
                                             << "udp - verify - - - -" << QStringList{};
        QTest::newRow("TLS, SRTP mandatory, STUN and ICE")
            << "SipTransport=tls;TlsCaFile=/ca.pem;MediaEncryption=SRTP;MediaEncryptionMandatory=True;"
               "StunServer=stun.example:3478;IceEnabled=True"
            << "tls /ca.pem verify srtp mandatory stun.example:3478 ice" << QStringList{};
        QTest::newRow("wrong values: defaults, one note each")
            << "SipTransport=SCTP;TlsCaFile=/missing.pem;TlsVerify=yes;MediaEncryption=ZRTP;StunServer=a:0;"
               "IceEnabled=True"
            << "udp - verify - - - -"
            << QStringList{"SipTransport: \"SCTP\" is not UDP, TCP or TLS; UDP is used.",
                           "TlsCaFile: \"/missing.pem\" cannot be read; the system's certificate authorities are used.",
                           "TlsVerify: \"yes\" is neither True nor False; True is used.",
                           "MediaEncryption: \"ZRTP\" is not None or SRTP; None is used.",
                           "StunServer: \"a:0\" is not host:port; no STUN server is used.",
                           "IceEnabled: ICE needs a StunServer; False is used."};
        QTest::newRow("SRTP needs TLS") << "SipTransport=TCP;MediaEncryption=SRTP;MediaEncryptionMandatory=True"
                                        << "tcp - verify - - - -"
                                        << QStringList{
                                               "MediaEncryption: \"SRTP\" needs SipTransport TLS; None is used."};
        QTest::newRow("lab: not verified") << "SipTransport=TLS;TlsVerify=False"
                                           << "tls - - - - - -" << QStringList{};
    }
    void rule() {
        QFETCH(QString, settings);
        QFETCH(QString, expected);
        QFETCH(QStringList, notes);
        QMap<QString, QString> values;
        for (const QString& pair : settings.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            values.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        const SecuritySettings r = parseSecuritySettings([&](const char* key) { return values.value(key); },
                                                         [](const QString& path) { return path == "/ca.pem"; });
        const SipSecurity& s = r.security;
        const char* transports[] = {"udp", "tcp", "tls"};
        const QStringList got{transports[int(s.transport)],
                              s.caFile.isEmpty() ? "-" : s.caFile,
                              s.verifyServer ? "verify" : "-",
                              s.srtp ? "srtp" : "-",
                              s.srtpMandatory ? "mandatory" : "-",
                              s.stunServer.isEmpty() ? "-" : s.stunServer,
                              s.ice ? "ice" : "-"};
        QCOMPARE(got.join(' '), expected);
        QCOMPARE(r.notes, notes);
        QCOMPARE(r.unverifiedNote.isEmpty(), s.verifyServer);
    }

    void customerNumberMasked() {
        const QString code = QStringLiteral("DM12341001secret1001");
        const QString shown = MaskedCustomerNumber(code);
        QCOMPARE(shown, QStringLiteral("DM12341001") + QString(10, QChar(0x2022)));
        QVERIFY(CustomerWindowTitle(code, "1.0").contains(shown));
        QVERIFY(!CustomerWindowTitle(code, "1.0").contains("secret"));
        // Saved again unchanged, or with only the first ten characters retyped, the password stays.
        QCOMPARE(UnmaskedCustomerNumber(shown, code), code);
        QCOMPARE(UnmaskedCustomerNumber("DM56781002" + shown.mid(10), code), QStringLiteral("DM56781002secret1001"));
        QCOMPARE(UnmaskedCustomerNumber("DM56781002other01234", code), QStringLiteral("DM56781002other01234"));
    }
};

QTEST_GUILESS_MAIN(TestSecuritySettings)
#include "tst_security_settings.moc"
