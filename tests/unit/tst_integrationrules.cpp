// Rules of the caller-ID pop-up: the CRM page's address keeps each value whole, and the hand-over
// file's name is the caller ID or nothing, never a path elsewhere.

#include "integrations/CrmRules.h"
#include "integrations/HttpControlRules.h"
#include "integrations/HttpRequestReader.h"

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
        // The hello's proof names the address it was asked on, and a challenge is plain text.
        QVERIFY(helloProof(token, "127.0.0.1:5783", "0123456789abcdef") !=
                helloProof(token, "127.0.0.1:5784", "0123456789abcdef"));
        for (const char* challenge : {"0123456789abcde", "0123456789abcdef%20", ""})
            QVERIFY(!challengeValid(challenge));
    }

    // The request reader: what each kind of framing gives, fed at once and byte by byte.
    void httpRequestReader_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("status"); // 0: every request read
        QTest::addColumn<QByteArrayList>("bodies");
        const QByteArray post = "POST /v1/dial HTTP/1.1\r\nHost: h\r\n";
        QTest::newRow("two in a row") << post + "Content-Length: 2\r\n\r\nab" + post + "Content-Length: 1\r\n\r\nc" << 0
                                      << QByteArrayList{"ab", "c"};
        QTest::newRow("chunked, with a trailer")
            << post + "Transfer-Encoding: chunked\r\n\r\n2;x=y\r\nab\r\n1\r\nc\r\n0\r\nT: 1\r\n\r\n"
            << 0 << QByteArrayList{"abc"};
        QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.1\nHost: h\r\n\r\n") << 400 << QByteArrayList{};
        QTest::newRow("two framings") << post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n"
                                      << 400 << QByteArrayList{};
        QTest::newRow("two lengths") << post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\n"
                                     << 400 << QByteArrayList{};
        QTest::newRow("gzip") << post + "Transfer-Encoding: gzip\r\n\r\n" << 501 << QByteArrayList{};
        QTest::newRow("65 KB announced") << post + "Content-Length: 66560\r\n\r\n" << 413 << QByteArrayList{};
        QTest::newRow("huge chunk") << post + "Transfer-Encoding: chunked\r\n\r\nffffffffffff\r\n"
                                    << 413 << QByteArrayList{};
        QTest::newRow("16 KB header line")
            << "GET / HTTP/1.1\r\nX: " + QByteArray(16 * 1024, 'x') << 431 << QByteArrayList{};
        QTest::newRow("HTTP/2") << QByteArray("GET / HTTP/2.0\r\n\r\n") << 505 << QByteArrayList{};
    }
    void httpRequestReader() {
        QFETCH(QByteArray, input);
        for (const bool byByte : {false, true}) {
            httpcontrol::HttpRequestReader reader;
            QByteArrayList bodies;
            auto result = httpcontrol::HttpRequestReader::Result::NeedMore;
            for (qsizetype at = 0; at < input.size() && result != httpcontrol::HttpRequestReader::Result::Refused;) {
                const QByteArray piece = input.mid(at, byByte ? 1 : qMin(reader.room(), input.size() - at));
                at += piece.size();
                for (result = reader.append(piece); result == httpcontrol::HttpRequestReader::Result::Request;
                     result = reader.next())
                    bodies << reader.request().body;
            }
            QTEST(result == httpcontrol::HttpRequestReader::Result::Refused ? reader.refusal().status : 0, "status");
            QTEST(bodies, "bodies");
        }
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
