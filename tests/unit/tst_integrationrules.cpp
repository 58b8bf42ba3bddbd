// Pure rules of monitoring and the caller-ID pop-up: the monitored extension, the agent-list
// extension, the CRM page's address and the hand-over file's name.

#include "integrations/CrmRules.h"
#include "integrations/MonitorRules.h"

#include <QTest>

using namespace corvid;

class TestIntegrationRules : public QObject {
    Q_OBJECT
private slots:
    void monitorTarget_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::newRow("thirteen digits, blanks around") << " 5551234567890 "
                                                        << "5551234567";
        QTest::newRow("short") << "205"
                               << "205";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("10,000 characters") << QString(10000, QLatin1Char('7')) << QString(10, QLatin1Char('7'));
    }
    void monitorTarget() {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QCOMPARE(monitorTargetFrom(source), target);
        QCOMPARE(featureDialString(CoachCode, QStringLiteral(" ") + target), CoachCode + target);
    }

    void agentExtension_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("extension"); // "-" for none
        QTest::newRow("extension and name") << "204_Smith"
                                            << "204";
        QTest::newRow("blank before the underscore") << " 204 _Smith"
                                                     << " 204 ";
        QTest::newRow("no underscore") << "Smith"
                                       << "-";
        QTest::newRow("underscore at 50") << QString(49, QLatin1Char('1')) + "_x" << QString(49, QLatin1Char('1'));
        QTest::newRow("underscore at 51") << QString(50, QLatin1Char('1')) + "_x"
                                          << "-";
    }
    void agentExtension() {
        QFETCH(QString, entry);
        QFETCH(QString, extension);
        QCOMPARE(agentListExtension(entry).value_or(QStringLiteral("-")), extension);
    }

    // Plain values stay as written; values that would cut the query are encoded, so the server reads
    // each value back whole.
    void crmAddress_data() {
        QTest::addColumn<QStringList>("values"); // user, password, work group, caller ID
        QTest::addColumn<QString>("address");
        QTest::newRow("plain, caller ID trimmed") << QStringList{"ann", "pw1", "Sales", "5551234567 "}
                                                  << "http://crm:8080/lm_sp.asp?u=ann&p=pw1&w=Sales&phone=5551234567";
        QTest::newRow("& = # and blanks")
            << QStringList{"a&b", "p=q", "R&D #2", " 555 1234"}
            << "http://crm:8080/lm_sp.asp?u=a%26b&p=p%3Dq&w=R%26D%20%232&phone=555%201234";
        QTest::newRow("plus, percent, non-ASCII")
            << QStringList{"a+b", "100%", "Zürich", "+15551234567"}
            << "http://crm:8080/lm_sp.asp?u=a%2Bb&p=100%25&w=Z%C3%BCrich&phone=%2B15551234567";
    }
    void crmAddress() {
        QFETCH(QStringList, values);
        QFETCH(QString, address);
        QCOMPARE(crmPageAddress(QStringLiteral("crm:8080"), values[0], values[1], values[2], values[3]), address);
        QCOMPARE(crmHost(QStringLiteral("  ")), QStringLiteral(CORVID_CRM_HOST));
        QCOMPARE(crmHost(QStringLiteral(" 127.0.0.1:81 ")), QStringLiteral("127.0.0.1:81"));
    }

    // A caller ID is the file's name as it is, or no name at all: never a path elsewhere.
    void callerIdFile_data() {
        QTest::addColumn<QString>("callerId");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("number") << "5551234567"
                                << "5551234567.txt";
        QTest::newRow("blank after it") << "5551234567 "
                                        << "5551234567 .txt";
        QTest::newRow("console is a name") << "console"
                                           << "console.txt";
        QTest::newRow("one dot") << "a.b"
                                 << "a.b.txt";
        const QString refused;
        QTest::newRow("../../x") << "../../x" << refused;
        QTest::newRow("..") << ".." << refused;
        QTest::newRow("a/b") << "a/b" << refused;
        QTest::newRow("a\\b") << "a\\b" << refused;
        QTest::newRow("con") << "con" << refused;
        QTest::newRow("NUL.x") << "NUL.x" << refused;
        QTest::newRow("com1") << "com1" << refused;
        QTest::newRow("tab") << "55\t5" << refused;
        QTest::newRow("line end") << "555\r\n" << refused;
        QTest::newRow("colon") << "c:x" << refused;
        QTest::newRow("star") << "5*" << refused;
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
