// Monitoring driven by another program over D-Bus, end to end: the real window and engine, online
// at the loopback test bed, on a private session bus. dbus-send sets the DDE box and presses
// DDEListen; the proxy sees the INVITE to "199" + the extension. Odd texts (10,000 characters,
// letters, nothing) reach the PBX cut to ten characters or come back as D-Bus errors, with no box;
// a second press while the first runs is refused as busy. Hostile calls (a 1 MB text, NULs and
// bytes that are not UTF-8 sent on the wire by hand) get an error or are dropped by the bus; the
// dialer keeps its box and shows nothing.

#include "integrations/DdeBus.h"
#include "phone/EngineErrors.h"
#include "support/BedWindow.h"
#include "support/PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace corvid;
using namespace corvid::test;

constexpr int kEventMs = 10000;

class TestMonitoringE2e : public QObject {
    Q_OBJECT
    PrivateSessionBus m_bus;
    BedRun m_run;

private slots:
    void initTestCase() {
        QVERIFY2(m_bus.start(), "no private session bus (dbus-daemon)");
        QVERIFY(m_run.start());
    }

    void cleanupTestCase() {
        const qint64 bus = m_bus.pid();
        m_bus.stop();
        QVERIFY(m_run.stop({bus}));
    }

    void otherProgramStartsListenCall() {
        // A window for account 1001 without a display name; start-up takes it online by itself.
        const auto phone = BedWindow::online(*m_run.bed, {Account1001, QString()});
        QVERIFY(phone);
        struct Row {
            QString text;
            QString invitedUser; // empty: refused
        };
        const QList<Row> rows{
            {QStringLiteral(" 1002 "), QStringLiteral("1991002")},
            {QString(10000, QLatin1Char('7')), QStringLiteral("1997777777777")},
            {QStringLiteral("12ab"), QString()},
            {QString(), QStringLiteral("199")},
        };
        for (const Row& row : rows) {
            const QString label = row.text.left(12);
            QTRY_VERIFY_WITH_TIMEOUT(!phone->engine->IsLineBusy(0), kEventMs);
            const PrivateSessionBus::Result set =
                PrivateSessionBus::dde(QStringLiteral("SetText"), {QStringLiteral("string:") + row.text});
            QVERIFY2(set.exitCode == 0, qPrintable(label + set.output));
            QCOMPARE(phone->ui().corvidDDEtxt->text(), row.text);

            const PrivateSessionBus::Result press = PrivateSessionBus::dde(QStringLiteral("DDEListen"));
            if (row.invitedUser.isEmpty()) {
                QVERIFY2(press.exitCode != 0 && press.output.contains(QLatin1String("org.corviddialer.Error.Engine")) &&
                             press.output.contains(engineErrorMessage(EngineError::InvalidUri)),
                         qPrintable(label + press.output));
            } else {
                QVERIFY2(press.exitCode == 0, qPrintable(label + press.output));
                const QString invite = QStringLiteral("REQ INVITE sip:") + row.invitedUser + QLatin1Char('@');
                QTRY_VERIFY2_WITH_TIMEOUT(m_run.bed->proxyLog().contains(invite), qPrintable(label), kEventMs);
            }
        }
        // Two programs pressing at once: one call is placed, the other press is refused as busy.
        QTRY_VERIFY_WITH_TIMEOUT(!phone->engine->IsLineBusy(0), kEventMs);
        QProcess first, second;
        for (QProcess* client : {&first, &second}) {
            client->setProcessChannelMode(QProcess::MergedChannels);
            client->start(QStringLiteral("dbus-send"),
                          {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                           QStringLiteral("--dest=org.corviddialer.Dialer"), QStringLiteral("/Dde"),
                           QStringLiteral("org.corviddialer.Dde.DDECorvid")});
        }
        QTRY_VERIFY_WITH_TIMEOUT(first.state() == QProcess::NotRunning && second.state() == QProcess::NotRunning,
                                 kEventMs);
        const QString outputs = QString::fromLocal8Bit(first.readAll() + second.readAll());
        QVERIFY2(first.exitCode() + second.exitCode() == 1 &&
                     outputs.contains(QLatin1String("org.corviddialer.Error.Busy")),
                 qPrintable(outputs));
        QVERIFY(phone->ui().DDEListen->isEnabled());
        QVERIFY2(phone->fixture.fakes.messages.texts().filter(engineErrorMessage(EngineError::InvalidUri)).isEmpty(),
                 qPrintable(phone->fixture.fakes.messages.texts().join(" | ")));

        // With the agent's call up, a press is refused as busy and the call goes on.
        QTRY_VERIFY_WITH_TIMEOUT(!phone->engine->IsLineBusy(0), kEventMs);
        phone->dial(BedNumber::Answer);
        QVERIFY(phone->connected());
        const PrivateSessionBus::Result refused = PrivateSessionBus::dde(QStringLiteral("DDEListen"));
        QVERIFY2(refused.exitCode != 0 && refused.output.contains(CallUpRefusal), qPrintable(refused.output));
        QVERIFY(phone->engine->IsLineBusy(0));
        QTest::mouseClick(phone->ui().BtnHangUp, Qt::LeftButton);
    }

    void hostileCallsGetErrorsAndLeaveTheBoxAlone() {
        const auto phone = BedWindow::online(*m_run.bed, {Account1001, QString()});
        QVERIFY(phone);
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("SetText"), {QStringLiteral("string:205")}).exitCode, 0);

        // 1 MB from a client in this process, answered while the window's event loop runs.
        QDBusConnection client = QDBusConnection::connectToBus(
            QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")), QStringLiteral("hostile"));
        QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(DdeServiceName), QLatin1String(DdeObjectPath),
                                                           QLatin1String(DdeInterfaceName), QStringLiteral("SetText"));
        call << QString(1024 * 1024, QChar(0x00e9));
        const QDBusPendingCall big = client.asyncCall(call, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(big.isFinished(), 20000);
        QCOMPARE(big.error().type(), QDBusError::InvalidArgs);

        // NULs and bytes that are not UTF-8, put on the wire by hand: the bus drops the sender.
        const QString socket = QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS")).section('=', 1).section(',', 0, 0);
        for (const char* hex : {"3230350032", "32ff3035", "c0af2e2e2f"}) {
            const PrivateSessionBus::Result raw = PrivateSessionBus::busClient(
                QStringLiteral("python3"), {QStringLiteral(CORVID_SOURCE_DIR "/tests/support/raw_dbus_call.py"), socket,
                                            QLatin1String(DdeServiceName), QLatin1String(DdeObjectPath),
                                            QLatin1String(DdeInterfaceName), QStringLiteral("SetText"), QLatin1String(hex)},
                60000);
            QVERIFY2(raw.output.startsWith(QLatin1String("disconnected")) || raw.output.startsWith(QLatin1String("error")),
                     qPrintable(raw.output));
        }
        const PrivateSessionBus::Result text = PrivateSessionBus::dde(QStringLiteral("Text"));
        QVERIFY2(text.exitCode == 0 && text.output.contains(QLatin1String("\"205\"")), qPrintable(text.output));
        QCOMPARE(phone->ui().corvidDDEtxt->text(), QStringLiteral("205"));
        QVERIFY(phone->fixture.fakes.messages.texts().isEmpty());
        QDBusConnection::disconnectFromBus(QStringLiteral("hostile"));
    }
};

QTEST_MAIN(TestMonitoringE2e)
#include "tst_monitoring_e2e.moc"
