// Monitoring driven by another program over D-Bus, end to end: the real window and engine, online
// at the loopback test bed, on a private session bus. A client connection sets the DDE box and
// presses DDEListen; the proxy sees the INVITE to "199" + the extension. Odd texts (letters, 10,000
// characters) come back as D-Bus errors, with no box, or reach the PBX cut to ten characters; a
// second press while the first runs is refused as busy. Hostile calls (a 1 MB text, NULs and
// bytes that are not UTF-8 sent on the wire by hand) get an error or are dropped by the bus; the
// dialer keeps its box and shows nothing.

#include "integrations/DdeBus.h"
#include "phone/EngineErrors.h"
#include "support/BedWindow.h"
#include "support/PrivateSessionBus.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
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
        const auto phone = m_run.window();
        QVERIFY(phone);
        // A recording pause with no call up is refused with its reason.
        const QDBusMessage pause = PrivateSessionBus::dde(QStringLiteral("PauseRecording"));
        QVERIFY2(pause.errorName() == QLatin1String("org.corviddialer.Error.Refused") &&
                     pause.errorMessage() == QLatin1String("refused: no call is up on Line- 1"),
                 qPrintable(pause.errorName() + ": " + pause.errorMessage()));
        // Letters: the engine's error comes back to the caller, and no box.
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("SetText"), {QStringLiteral("12ab")}).type(),
                 QDBusMessage::ReplyMessage);
        const QDBusMessage refused = PrivateSessionBus::dde(QStringLiteral("DDEListen"));
        QVERIFY2(refused.errorName() == QLatin1String("org.corviddialer.Error.Engine") &&
                     refused.errorMessage().contains(engineErrorMessage(EngineError::InvalidUri)),
                 qPrintable(refused.errorMessage()));
        // 10,000 digits: the box takes them, the PBX is asked for ten (left in the box for the presses below).
        const QString digits(10000, QLatin1Char('7'));
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("SetText"), {digits}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(phone->ui().corvidDDEtxt->text(), digits);
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("DDEListen")).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(m_run.bed->proxyLog().contains(QStringLiteral("REQ INVITE sip:1997777777777@")),
                                 kEventMs);

        // Two presses at once: one call is placed, the other press is refused as busy.
        QTRY_VERIFY_WITH_TIMEOUT(!phone->engine->IsLineBusy(0), kEventMs);
        const QDBusPendingCall first = PrivateSessionBus::ddeAsync(QStringLiteral("DDECorvid"));
        const QDBusPendingCall second = PrivateSessionBus::ddeAsync(QStringLiteral("DDECorvid"));
        QTRY_VERIFY_WITH_TIMEOUT(first.isFinished() && second.isFinished(), kEventMs);
        const QString errors = first.error().name() + QLatin1Char(' ') + second.error().name();
        QVERIFY2(first.isError() != second.isError() && errors.contains(QLatin1String("org.corviddialer.Error.Busy")),
                 qPrintable(errors));
        QVERIFY(phone->ui().DDEListen->isEnabled());
        QVERIFY2(phone->fixture.fakes.messages.texts().filter(engineErrorMessage(EngineError::InvalidUri)).isEmpty(),
                 qPrintable(phone->fixture.fakes.messages.texts().join(" | ")));

        // With the agent's call up, a press is refused as busy and the call goes on.
        QTRY_VERIFY_WITH_TIMEOUT(!phone->engine->IsLineBusy(0), kEventMs);
        phone->dial(BedNumber::Answer);
        QVERIFY(phone->connected());
        const QDBusMessage busy = PrivateSessionBus::dde(QStringLiteral("DDEListen"));
        QVERIFY2(busy.errorMessage().contains(CallUpRefusal), qPrintable(busy.errorMessage()));
        QVERIFY(phone->engine->IsLineBusy(0));
        QTest::mouseClick(phone->ui().BtnHangUp, Qt::LeftButton);
    }

    void hostileCallsGetErrorsAndLeaveTheBoxAlone() {
        const auto phone = m_run.window();
        QVERIFY(phone);
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("SetText"), {QStringLiteral("205")}).type(),
                 QDBusMessage::ReplyMessage);
        // 1 MB: refused.
        const QDBusMessage big =
            PrivateSessionBus::dde(QStringLiteral("SetText"), {QString(1024 * 1024, QChar(0x00e9))});
        QCOMPARE(QDBusError(big).type(), QDBusError::InvalidArgs);

        // NULs and bytes that are not UTF-8, put on the wire by hand: the bus drops the sender.
        for (const char* hex : {"3230350032", "32ff3035", "c0af2e2e2f"}) {
            const QString raw = PrivateSessionBus::busClient(
                QStringLiteral("python3"),
                {QStringLiteral(CORVID_SOURCE_DIR "/tests/support/raw_dbus_call.py"), m_bus.socket(),
                 QLatin1String(DdeServiceName), QLatin1String(DdeObjectPath), QLatin1String(DdeInterfaceName),
                 QStringLiteral("SetText"), QLatin1String(hex)},
                60000);
            QVERIFY2(raw.startsWith(QLatin1String("disconnected")) || raw.startsWith(QLatin1String("error")),
                     qPrintable(raw));
        }
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("Text")).arguments().value(0).toString(), QStringLiteral("205"));
        QCOMPARE(phone->ui().corvidDDEtxt->text(), QStringLiteral("205"));
        QVERIFY(phone->fixture.fakes.messages.texts().isEmpty());
    }
};

QTEST_MAIN(TestMonitoringE2e)
#include "tst_monitoring_e2e.moc"
