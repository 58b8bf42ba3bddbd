// Rules of the caller-ID pop-up: the CRM page's address keeps each value whole, and the hand-over
// file's name is the caller ID or nothing, never a path elsewhere.

#include "integrations/CrmRules.h"
#include "integrations/HttpControlRules.h"

#include <QTest>

using namespace corvid;

class TestIntegrationRules : public QObject {
    Q_OBJECT
private slots:
    // The HTTP control answers only the loopback by name and port, and only the exact token.
    void httpControlHostAndToken() {
        using namespace httpcontrol;
        for (const char* host : {"127.0.0.1:5783", "[::1]:5783", "LocalHost:5783"}) QVERIFY(hostAllowed(host, 5783));
        for (const char* host : {"127.0.0.1", "127.0.0.1:57830", "x127.0.0.1:5783", "localhost.evil.test:5783",
                                 "evil.test:5783", "127.0.0.1:5783:5783", ""})
            QVERIFY2(!hostAllowed(host, 5783), host);
        const QByteArray token = newToken();
        QCOMPARE(token.size(), 32);
        QVERIFY(token != newToken());
        QVERIFY(bearerMatches("Bearer " + token, token));
        for (const QByteArray& wrong : {QByteArray("Bearer "), "Bearer " + token.chopped(1), "Bearer " + token + "0",
                                        "bearer " + token, token})
            QVERIFY(!bearerMatches(wrong, token));
        QVERIFY(!bearerMatches("Bearer ", QByteArray()));
        QVERIFY(!originAllowed("http://a.test", originsFromSetting(QStringLiteral("*"))));
        QVERIFY(originAllowed("http://a.test", originsFromSetting(QStringLiteral(" http://b.test  http://a.test"))));
    }

    // Values are encoded so the server reads each one back whole, "+" not as a blank ("&", "=", "#",
    // blanks and plain values: the pop-up's window test compares the encoded address the browser is
    // handed; any value: the crmaddress fuzz target).
    void crmAddress() {
        QCOMPARE(crmPageAddress(QStringLiteral("crm:8080"), "a+b", "100%", QStringLiteral("Zürich"), "+15551234567"),
                 QStringLiteral("http://crm:8080/lm_sp.asp?u=a%2Bb&p=100%25&w=Z%C3%BCrich&phone=%2B15551234567"));
        QCOMPARE(crmHost(QStringLiteral("  ")), QStringLiteral(CORVID_CRM_HOST));
        QCOMPARE(crmHost(QStringLiteral(" 127.0.0.1:81 ")), QStringLiteral("127.0.0.1:81"));
        // A host with its scheme keeps it; a bare host is plain HTTP.
        QCOMPARE(crmPageAddress(QStringLiteral("https://crm.example/"), "a", "b", "c", "1"),
                 QStringLiteral("https://crm.example/lm_sp.asp?u=a&p=b&w=c&phone=1"));
    }

    // A caller ID is the file's name as it is, or no name at all: never a path elsewhere (the
    // calleridfile fuzz target climbs out with "..").
    void callerIdFile_data() {
        QTest::addColumn<QString>("callerId");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("number") << "5551234567"
                                << "5551234567.txt";
        QTest::newRow("blank after it") << "5551234567 "
                                        << "5551234567 .txt";
        const QString refused;
        QTest::newRow("a/b") << "a/b" << refused;
        QTest::newRow("con") << "con" << refused;
        QTest::newRow("tab") << "55\t5" << refused;
        QTest::newRow("colon") << "c:x" << refused;
        QTest::newRow("300 characters") << QString(300, QLatin1Char('5')) << refused;
        QTest::newRow("251 characters") << QString(251, QLatin1Char('5')) << QString(251, QLatin1Char('5')) + ".txt";
    }
    void callerIdFile() {
        QFETCH(QString, callerId);
        QFETCH(QString, fileName);
        QCOMPARE(callerIdFileName(callerId), fileName);
    }
};

QTEST_GUILESS_MAIN(TestIntegrationRules)
#include "tst_integrationrules.moc"
