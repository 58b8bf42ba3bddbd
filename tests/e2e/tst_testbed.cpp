// The end-to-end test bed itself: the proxy registers and routes, the far ends answer and reject,
// and every process and file of the bed is gone afterwards.

#include "support/E2eFixtures.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace corvid::test;

class TestBed : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;

private Q_SLOTS:
    void initTestCase() {
        m_bed = std::make_unique<SipTestBed>();
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
        QVERIFY(m_bed->proxyPort() > 0);
        QCOMPARE(m_bed->domain(), QStringLiteral("pbx1234.") + QStringLiteral(CORVID_PROVIDER_DOMAIN));
        const QList<int> ports{m_bed->proxyPort(), m_bed->farEndPort(SipTestBed::FarEnd::Answer),
                               m_bed->farEndPort(SipTestBed::FarEnd::HangUp),
                               m_bed->farEndPort(SipTestBed::FarEnd::Reject)};
        for (int port : ports)
            QVERIFY(isUdpPortBound(port));
    }

    void registrationIsStoredAndRemoved() {
        SipProbe probe(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(probe.open());
        QCOMPARE(probe.registerAccount(Account1001.user, Account1001.password, 60), 200);
        bool ok = false;
        const QStringList contacts = m_bed->locationContacts(Account1001.user, &ok);
        QVERIFY(ok);
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(probe.localPort())),
                 qPrintable(contacts.first()));
        QVERIFY(m_bed->locationContacts(Account1002.user).isEmpty());

        QCOMPARE(probe.registerAccount(Account1001.user, Account1001.password, 0), 200);
        QVERIFY(m_bed->locationContacts(Account1001.user, &ok).isEmpty());
        QVERIFY(ok);
    }

    void badCredentialsAreForbidden_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::newRow("wrong password") << Account1001.user << QStringLiteral("secret1002");
        QTest::newRow("unknown user") << QStringLiteral("1003") << QStringLiteral("secret1003");
    }
    void badCredentialsAreForbidden() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        SipProbe probe(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(probe.open());
        QCOMPARE(probe.registerAccount(user, password), 403);
        QVERIFY(probe.lastResponse().contains("Forbidden"));
        QVERIFY(m_bed->locationContacts(user).isEmpty());
    }

    void answeringFarEnd() {
        SipProbe probe(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(probe.open());
        int byeCode = 0;
        QCOMPARE(probe.call(Account1001.user, BedNumber::Answer, 400, &byeCode), 200);
        QCOMPARE(byeCode, 200);
        QVERIFY(probe.lastResponse().contains("telephone-event/8000"));
        // The far end sent its DTMF by INFO and saw the BYE.
        QTRY_VERIFY(m_bed->farEndMessages(SipTestBed::FarEnd::Answer).contains(QLatin1String("Signal=5")));
        QTRY_VERIFY(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains(QLatin1String("BYE received")));
    }

    void finalResponses_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("busy") << BedNumber::Busy << 486 << QByteArray("Busy Here");
        QTest::newRow("not found") << BedNumber::NotFound << 404 << QByteArray("Not Found");
        QTest::newRow("unavailable") << BedNumber::Unavailable << 480 << QByteArray("Temporarily Unavailable");
        QTest::newRow("server error") << BedNumber::ServerError << 500 << QByteArray("Server Internal Error");
        QTest::newRow("580") << BedNumber::Precondition << 580 << QByteArray("Precondition Failure");
        QTest::newRow("decline") << BedNumber::Decline << 603 << QByteArray("Decline");
        QTest::newRow("redirect") << BedNumber::Redirect << 302 << QByteArray("Moved Temporarily");
        QTest::newRow("nobody registered") << Account1002.user << 404 << QByteArray("Not Found");
    }
    void finalResponses() {
        QFETCH(QString, number);
        QFETCH(int, code);
        QFETCH(QByteArray, reason);
        SipProbe probe(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(probe.open());
        QCOMPARE(probe.call(Account1001.user, number), code);
        QVERIFY2(probe.lastResponse().startsWith("SIP/2.0 " + QByteArray::number(code) + " " + reason),
                 probe.lastResponse().left(60).constData());
    }

    void registeredUserIsReachable() {
        // 1002 registers; an INVITE to 1002 reaches its contact through the location table.
        SipProbe callee(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(callee.open());
        QCOMPARE(callee.registerAccount(Account1002.user, Account1002.password, 60), 200);
        SipProbe caller(m_bed->proxyPort(), m_bed->domain());
        QVERIFY(caller.open());
        caller.call(Account1001.user, Account1002.user, 0, nullptr, 500); // nobody answers it
        const QByteArray invite = callee.receiveRequest(2000);
        QVERIFY2(invite.startsWith("INVITE sip:1002@127.0.0.1:" + QByteArray::number(callee.localPort())),
                 invite.left(80).constData());
        QCOMPARE(callee.registerAccount(Account1002.user, Account1002.password, 0), 200);
    }

    void foldersOfDeadTestsAreSwept() {
        // A folder left by a test process that died: marked with a pid that no longer runs.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        QVERIFY(gone.waitForStarted(5000));
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished(5000));
        QVERIFY(!processAlive(deadPid));
        OwnedTempDir ours(QStringLiteral("corvid-e2e-"));
        OwnedTempDir left(QStringLiteral("corvid-e2e-"));
        left.setAutoRemove(false);
        const QString stale = left.path();
        {
            QFile owner(left.filePath(QStringLiteral("owner.pid")));
            QVERIFY(owner.open(QIODevice::WriteOnly | QIODevice::Truncate));
            owner.write(QByteArray::number(deadPid));
        }
        QVERIFY(QFileInfo::exists(stale));
        sweepStaleTestFolders();
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(ours.path()));
        QVERIFY(QFileInfo::exists(m_bed->tempPath()));
    }

    void cleanupTestCase() {
        const QList<qint64> pids = m_bed->processIds();
        const QString dir = m_bed->tempPath();
        QCOMPARE(pids.size(), 4);
        for (qint64 pid : pids)
            QVERIFY(processAlive(pid));
        m_bed.reset();
        for (qint64 pid : pids) {
            QVERIFY2(!processAlive(pid), qPrintable(QString::number(pid)));
            QVERIFY2(!processGroupAlive(pid), qPrintable(QString::number(pid)));
        }
        QVERIFY(!QFileInfo::exists(dir));
    }

    void nullSoundCardStartsAndStops() {
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        qint64 pid = 0;
        {
            NullSoundCard card;
            QVERIFY2(card.start(), qPrintable(card.errorString()));
            pid = card.pid();
            QVERIFY(processAlive(pid));
            card.applyToEnvironment();
            QCOMPARE(qEnvironmentVariable("PULSE_SERVER"), card.serverAddress());
        }
        QVERIFY(!processAlive(pid));
        QVERIFY(qEnvironmentVariable("PULSE_SERVER").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBed)
#include "tst_testbed.moc"
