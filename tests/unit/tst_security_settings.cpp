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
        QTest::addColumn<QString>("expected"); // transport ca verify srtp mandatory stun ice allow-from
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("none set: clear UDP") << ""
                                             << "0 - 1 0 0 - 0 -" << QStringList{};
        QTest::newRow("all set") << "SipTransport=tls;TlsCaFile=/ca.pem;TlsVerify=False;MediaEncryption=SRTP;"
                                    "MediaEncryptionMandatory=True;StunServer=stun.example:3478;IceEnabled=True;"
                                    "SipAllowFrom= 10.0.0.7 \t10.1.2.0/24 "
                                 << "2 /ca.pem 0 1 1 stun.example:3478 1 10.0.0.7,10.1.2.0/24" << QStringList{};
        QTest::newRow("wrong values")
            << "SipTransport=SCTP;TlsCaFile=/no.pem;TlsVerify=yes;MediaEncryption=SRTP;StunServer=a:0;IceEnabled=True;"
               "SipAllowFrom=pbx.example 10.0.0.300 10.1.0.0/33 10.2.0.0/16"
            << "0 - 1 0 0 - 0 10.2.0.0/16"
            << QStringList{"SipTransport: \"SCTP\" is not UDP, TCP or TLS; UDP is used.",
                           "TlsCaFile: \"/no.pem\" cannot be read; the system's certificate authorities are used.",
                           "TlsVerify: \"yes\" is neither True nor False; True is used.",
                           "MediaEncryption: \"SRTP\" needs SipTransport TLS; None is used.",
                           "StunServer: \"a:0\" is not host:port; no STUN server is used.",
                           "IceEnabled: ICE needs a StunServer; False is used.",
                           "SipAllowFrom: \"pbx.example\" is not an address or network; it is left out.",
                           "SipAllowFrom: \"10.0.0.300\" is not an address or network; it is left out.",
                           "SipAllowFrom: \"10.1.0.0/33\" is not an address or network; it is left out."};
    }
    void rule() {
        QFETCH(QString, settings);
        QMap<QString, QString> values;
        for (const QString& pair : settings.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            values.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
        const SecuritySettings r = parseSecuritySettings([&](const char* key) { return values.value(key); },
                                                         [](const QString& path) { return path == "/ca.pem"; });
        const SipSecurity& s = r.security;
        const QString got = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                                .arg(int(s.transport))
                                .arg(s.caFile.isEmpty() ? "-" : s.caFile)
                                .arg(s.verifyServer)
                                .arg(s.srtp)
                                .arg(s.srtpMandatory)
                                .arg(s.stunServer.isEmpty() ? "-" : s.stunServer)
                                .arg(s.ice)
                                .arg(s.allowFrom.isEmpty() ? "-" : s.allowFrom.join(','));
        QTEST(got, "expected");
        QTEST(r.notes, "notes");
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
