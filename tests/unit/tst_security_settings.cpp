// The connection settings' rule (defaults, wrong values noted by key) and the masked customer number.

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
        QTest::addColumn<QString>("expected"); // transport ca verify srtp mandatory stun ice keep-alive check allow-from
        QTest::addColumn<QStringList>("notes");
        QTest::addColumn<QStringList>("errors"); // each stops going online
        QTest::newRow("none set: clear UDP") << ""
                                             << "0 - 1 0 0 - 0 30 60 -" << QStringList{} << QStringList{};
        QTest::newRow("all set") << "SipTransport=tls;TlsCaFile=/ca.pem;TlsVerify=False;MediaEncryption=SRTP;"
                                    "MediaEncryptionMandatory=True;StunServer=stun.example:3478;IceEnabled=True;"
                                    "SipKeepAliveSeconds=0;RegistrarCheckSeconds=300;SipAllowFrom= 10.0.0.7 \t10.1.2.0/24 "
                                 << "2 /ca.pem 0 1 1 stun.example:3478 1 0 300 10.0.0.7,10.1.2.0/24" << QStringList{} << QStringList{};
        QTest::newRow("lenient keys: a note and the default")
            << "SipTransport=TLS;TlsCaFile=/no.pem;StunServer=a:0;IceEnabled=True;SipKeepAliveSeconds=2;"
               "RegistrarCheckSeconds=x;RegistrarRefreshSeconds=5;SipAllowFrom=pbx.example 10.0.0.300 10.1.0.0/33 "
               "10.2.0.0/16"
            << "2 - 1 0 0 - 0 30 60 10.2.0.0/16"
            << QStringList{"TlsCaFile: \"/no.pem\" cannot be read; the system's certificate authorities are used.",
                           "StunServer: \"a:0\" is not host:port; no STUN server is used.",
                           "IceEnabled: ICE needs a StunServer; False is used.",
                           "SipKeepAliveSeconds: \"2\" is not 0 or 5 to 3600 seconds; 30 is used.",
                           "RegistrarCheckSeconds: \"x\" is not 0 or 2 to 3600 seconds; 60 is used.",
                           "RegistrarRefreshSeconds: \"5\" is not 0 or 10 to 3600 seconds; 300 is used.",
                           "SipAllowFrom: \"pbx.example\" is not an address or network; it is left out.",
                           "SipAllowFrom: \"10.0.0.300\" is not an address or network; it is left out.",
                           "SipAllowFrom: \"10.1.0.0/33\" is not an address or network; it is left out."}
            << QStringList{};
        // A typo in a security key, or encryption asked for without TLS, never goes online in clear.
        const QString stop = QStringLiteral("Not going online.");
        QTest::newRow("transport typo") << "SipTransport=TSL;MediaEncryption=SRTP;MediaEncryptionMandatory=True"
                                        << "0 - 1 0 0 - 0 30 60 -" << QStringList{}
                                        << QStringList{"SipTransport: \"TSL\" is not UDP, TCP or TLS. " + stop,
                                                       "MediaEncryption: \"SRTP\" needs SipTransport TLS. " + stop};
        QTest::newRow("media typo") << "SipTransport=TLS;MediaEncryption=SRPT"
                                    << "2 - 1 0 0 - 0 30 60 -" << QStringList{}
                                    << QStringList{"MediaEncryption: \"SRPT\" is not None or SRTP. " + stop};
        QTest::newRow("flag typos")
            << "SipTransport=TLS;TlsVerify=Flase;MediaEncryption=SRTP;MediaEncryptionMandatory=yes;"
               "StunServer=s:3478;IceEnabled=on"
            << "2 - 1 1 0 s:3478 0 30 60 -" << QStringList{}
            << QStringList{"TlsVerify: \"Flase\" is neither True nor False. " + stop,
                           "MediaEncryptionMandatory: \"yes\" is neither True nor False. " + stop,
                           "IceEnabled: \"on\" is neither True nor False. " + stop};
    }
    void rule() {
        QFETCH(QString, settings);
        QMap<QString, QString> values;
        for (const QString& pair : settings.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            values.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        const SecuritySettings r = parseSecuritySettings([&](const char* key) { return values.value(key); },
                                                         [](const QString& path) { return path == "/ca.pem"; });
        const SipSecurity& s = r.security;
        const QString got = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                                .arg(int(s.transport))
                                .arg(s.caFile.isEmpty() ? "-" : s.caFile)
                                .arg(s.verifyServer)
                                .arg(s.srtp)
                                .arg(s.srtpMandatory)
                                .arg(s.stunServer.isEmpty() ? "-" : s.stunServer)
                                .arg(s.ice)
                                .arg(s.keepAliveSeconds)
                                .arg(s.registrarCheckSeconds)
                                .arg(s.allowFrom.isEmpty() ? "-" : s.allowFrom.join(','));
        QTEST(got, "expected");
        QTEST(r.notes, "notes");
        QTEST(r.errors, "errors");
        QCOMPARE(r.unverifiedNote.isEmpty(), s.verifyServer);
    }

    void customerNumberMasked() {
        const QString code = QStringLiteral("DM12341001secret1001");
        const QString shown = QStringLiteral("DM12341001") + QString(10, QChar(0x2022));
        // Shown masked (in the title: the start-up window test) and saved again as shown, or with only
        // the first ten characters retyped, the password stays.
        QCOMPARE(UnmaskedCustomerNumber(shown, code), code);
        QCOMPARE(UnmaskedCustomerNumber("DM56781002" + shown.mid(10), code), QStringLiteral("DM56781002secret1001"));
    }
};

QTEST_GUILESS_MAIN(TestSecuritySettings)
#include "tst_security_settings.moc"
