// The real window on the real engine against the loopback test bed, built as the program builds it
// on a temporary install root with the fake desktop services: start-up registers on a free SIP port
// past a taken one, a wrong password is refused, going offline unregisters; a call is recorded and
// logged when the far end hangs up; busy and unknown numbers are classified and hung up.

#include "phone/OnlineControl.h"
#include "support/BedWindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kEventMs = 10000;
// The far end that hangs up keeps the call this long.
constexpr int kFarEndCallMs = 3000;

// Whether the RIFF size in a wave file's header matches the file's size (a recording closed properly).
bool riffSizeMatches(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = file.read(8);
    return head.size() == 8 && head.startsWith("RIFF") &&
           qint64(qFromLittleEndian<quint32>(head.constData() + 4)) + 8 == file.size();
}

} // namespace

class TestWindowE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start({kFarEndCallMs})); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // Start-up: two seconds, the online button appears, one second later it is clicked; the phone
    // registers from the first free SIP port (the first one is taken); going offline unregisters.
    void startUpGoesOnlineOnAFreePortAndRegisters() {
        QUdpSocket holder; // by this test, or already by another program
        QVERIFY(holder.bind(QHostAddress::LocalHost, FirstSipPort) || isUdpPortBound(FirstSipPort));
        QElapsedTimer sinceCreated;
        sinceCreated.start();
        auto p = m_run.window({}, false);
        QTRY_COMPARE_WITH_TIMEOUT(p->ui().BtnOnline->text(), QStringLiteral("Offline"), 5000);
        QVERIFY2(sinceCreated.elapsed() >= 2900, qPrintable(QString::number(sinceCreated.elapsed())));

        QVERIFY(p->waitLogged(QStringLiteral("Registered successfully.")));
        QVERIFY(p->waitRegistered(2000));
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
        // The registrar holds exactly one contact of account 1001, at that port.
        const int port = p->fixture.ctx().subsystems.online->sipPort();
        const QStringList contacts = m_run.bed->locationContacts(Account1001.user);
        QVERIFY2(port > FirstSipPort && port < SipPortLimit && contacts.size() == 1 &&
                     contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(port)),
                 qPrintable(QString::number(port) + ": " + contacts.join(" | ")));

        // Offline: the engine stops and the registrar forgets the phone.
        QTest::mouseClick(p->ui().BtnOnline, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_run.bed->locationContacts(Account1001.user).isEmpty(), kEventMs);
        QVERIFY(!p->engine->isStarted());
    }

    void wrongPasswordIsRefused() {
        auto p = m_run.window({{QStringLiteral("Password"), QStringLiteral("secret1002")}}, false);
        QVERIFY(p->waitLogged(QStringLiteral("Failed: Forbidden"), 5000 + kEventMs));
        QCOMPARE(p->ui().mouseMenu->text(), QStringLiteral("Failed to register."));
        QVERIFY(m_run.bed->locationContacts(Account1001.user).isEmpty());
        QCOMPARE(p->ui().BtnOnline->text(), QStringLiteral("Offline")); // the engine runs; only the registration failed
    }

    // Call, connect, recorded from the connection (recordAll), the far end hangs up: one call-log
    // row with the call's seconds, one recording holding the call's sound.
    void callIsRecordedAndLoggedWhenTheFarEndHangsUp() {
        auto p = m_run.window({{QStringLiteral("recordAll"), QStringLiteral("True")}});
        QVERIFY(p);
        const QString number = BedNumber::HangUp;
        p->dial(number);
        QVERIFY(p->connected());

        // The far end ends the call by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kFarEndCallMs + kEventMs);
        QVERIFY2(p->callLogRows().size() == 1 && p->hasRow(0, number, QString()) &&
                     p->rowSeconds() >= kFarEndCallMs / 1000 - 1 && p->rowSeconds() <= kFarEndCallMs / 1000 + 3,
                 qPrintable(p->callLogRows().join(" | ")));

        // Named by the number and the (fixed) clock; closed properly, of the call's length, holding the echo.
        const QStringList waves = p->recordings();
        QVERIFY2(waves.size() == 1 && waves.first().endsWith('/' + number + "_050324_140709.wav"),
                 qPrintable(waves.join(" | ")));
        QVERIFY(riffSizeMatches(waves.first()));
        const int ms = waveDurationMs(waves.first());
        QVERIFY2(qAbs(ms - kFarEndCallMs) < 700, qPrintable(QString::number(ms)));
        QVERIFY(hearsTone(waves.first(), 1000, 300));
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());
    }

    // A refused call: the caption shows the class at once, and two seconds later the hang-up ends
    // the call and writes its row.
    void refusedCallsAreClassifiedAndHungUp_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("reason");
        QTest::newRow("486") << BedNumber::Busy << QStringLiteral("BUSY") << QStringLiteral("Busy Here");
        QTest::newRow("404") << BedNumber::NotFound << QStringLiteral("Bad Number") << QStringLiteral("Not Found");
    }
    void refusedCallsAreClassifiedAndHungUp() {
        QFETCH(QString, number);
        QFETCH(QString, shown);
        QFETCH(QString, reason);
        auto p = m_run.window();
        QVERIFY(p);
        // The reaction waits inside the handler, and a wait of the test would only return after it:
        // a timer that runs inside every wait notes when the caption and the row appear.
        QElapsedTimer clock;
        clock.start();
        qint64 shownAt = -1, rowAt = -1;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (shownAt < 0 && p->ui().mouseMenu->text() == shown) shownAt = clock.elapsed();
            if (rowAt < 0 && !p->callLogRows().isEmpty()) rowAt = clock.elapsed();
        });
        watch.start();
        p->dial(number);
        QTRY_VERIFY_WITH_TIMEOUT(rowAt >= 0, 2000 + kEventMs);
        QVERIFY2(shownAt >= 0 && rowAt - shownAt >= 1900 && rowAt - shownAt < 3000,
                 qPrintable(QStringLiteral("caption at %1 ms, row at %2 ms").arg(shownAt).arg(rowAt)));
        QVERIFY(p->logged(reason));
        QVERIFY(p->callLogRows().size() == 1 && p->hasRow(0, number, QStringLiteral("hang up")));
        QCOMPARE(p->ui().mouseMenu->text(), shown); // the caption keeps the result
        QVERIFY(!p->engine->IsLineBusy(0));
    }
};

QTEST_MAIN(TestWindowE2e)
#include "tst_window_e2e.moc"
