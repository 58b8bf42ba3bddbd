// The real window on the real engine against the loopback test bed, built as the program builds it
// on a temporary install root with the fake desktop services: start-up registers, a wrong password
// is refused, a taken SIP port is passed over, going offline unregisters; a call is recorded and
// logged when the far end hangs up; busy and unknown numbers are classified and hung up.

#include "dialer/LogRecords.h"
#include "phone/OnlineControl.h"
#include "support/BedWindow.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kEventMs = 10000;
constexpr int kToneHz = 1000;
// The far end that hangs up keeps the call this long.
constexpr int kFarEndCallMs = 3000;
const QString kDisplayName = QStringLiteral("Demo Agent");

// Whether the RIFF size in a wave file's header matches the file's size (a recording closed properly).
bool riffSizeMatches(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray head = file.read(8);
    return head.size() == 8 && head.startsWith("RIFF") &&
           qint64(qFromLittleEndian<quint32>(head.constData() + 4)) + 8 == file.size();
}

QString quoted(const QStringList& values) {
    QStringList parts;
    for (const QString& v : values)
        parts << QLatin1Char('"') + v + QLatin1Char('"');
    return parts.join(QLatin1Char(','));
}

// The window and its engine, built as the program builds them, with every text callsec took.
struct Phone : BedWindow {
    QStringList callSeconds;

    QString caption() const { return ui().mouseMenu->text(); }
    int sipPort() const { return fixture.ctx().subsystems.online ? fixture.ctx().subsystems.online->sipPort() : 0; }
    // The last count callsec showed before it went back to "0" ("0" when it never counted).
    QString lastCallSeconds() const {
        for (qsizetype i = callSeconds.size() - 1; i > 0; --i)
            if (callSeconds.at(i) == QLatin1String("0") && callSeconds.at(i - 1) != QLatin1String("0"))
                return callSeconds.at(i - 1);
        return QStringLiteral("0");
    }
    // The call-log row of a call to number that ended now with result.
    QString row(const QString& number, const QString& result) const {
        const QDateTime now = fixture.fakes.clock.now();
        return quoted({number, kDisplayName, lastCallSeconds(), callLogTimeText(now.time()),
                       callLogDateText(now.date()), result});
    }
};

} // namespace

class TestWindowE2e : public QObject {
    Q_OBJECT

private:
    BedRun m_run;

    // A window on a fresh install root set up for the bed (account 1001, Mon = "True", so start-up
    // goes online by itself), playing a tone the far end echoes back. extra settings replace the account's.
    std::unique_ptr<Phone> startPhone(const QList<QPair<QString, QString>>& extra = {}, bool waitRegistered = false) {
        auto phone = std::make_unique<Phone>();
        phone->start(*m_run.bed, {Account1001, kDisplayName, m_run.tone(kToneHz), extra});
        Phone* p = phone.get();
        connect(p->ui().callsec, &QLineEdit::textChanged, this, [p](const QString& text) { p->callSeconds << text; });
        return !waitRegistered || phone->waitRegistered() ? std::move(phone) : nullptr;
    }
    std::unique_ptr<Phone> registeredPhone(const QList<QPair<QString, QString>>& extra = {}) {
        return startPhone(extra, true);
    }

    // Whether the registrar holds exactly one contact of account 1001, at port.
    bool registeredAt(int port) const {
        bool ok = false;
        const QStringList contacts = m_run.bed->locationContacts(Account1001.user, &ok);
        if (!ok || contacts.size() != 1) qWarning("contacts: %s", qPrintable(contacts.join(" | ")));
        return ok && contacts.size() == 1 && contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(port));
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start({kFarEndCallMs})); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    // Start-up: two seconds, the online button appears, one second later it is clicked; the phone
    // registers; going offline unregisters.
    void startUpGoesOnlineAndRegisters() {
        QElapsedTimer sinceCreated;
        sinceCreated.start();
        auto p = startPhone();
        QTRY_COMPARE_WITH_TIMEOUT(p->ui().BtnOnline->text(), QStringLiteral("Offline"), 5000);
        QVERIFY2(sinceCreated.elapsed() >= 2900, qPrintable(QString::number(sinceCreated.elapsed())));

        QVERIFY(p->waitLogged(QStringLiteral("Registered successfully.")));
        QVERIFY(p->waitRegistered(2000));
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());

        QVERIFY(p->sipPort() >= FirstSipPort && p->sipPort() < SipPortLimit);
        QVERIFY(registeredAt(p->sipPort()));

        // Offline: the engine stops and the registrar forgets the phone.
        QTest::mouseClick(p->ui().BtnOnline, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_run.bed->locationContacts(Account1001.user).isEmpty(), kEventMs);
        QVERIFY(!p->engine->isStarted());
    }

    void wrongPasswordIsRefused() {
        auto p = startPhone({{QStringLiteral("Password"), QStringLiteral("secret1002")}});
        QVERIFY(p->waitLogged(QStringLiteral("Failed: Forbidden"), 5000 + kEventMs));
        QCOMPARE(p->caption(), QStringLiteral("Failed to register."));
        QVERIFY(m_run.bed->locationContacts(Account1001.user).isEmpty());
        QCOMPARE(p->ui().BtnOnline->text(), QStringLiteral("Offline")); // the engine runs; only the registration failed
    }

    void takenSipPortIsPassedOver() {
        QUdpSocket holder;
        if (!holder.bind(QHostAddress::LocalHost, FirstSipPort))
            QSKIP("UDP port 5782 is already taken on this machine");
        if (isUdpPortBound(FirstSipPort + 1)) QSKIP("UDP port 5783 is already taken on this machine");
        auto p = registeredPhone();
        QVERIFY(p);
        QCOMPARE(p->sipPort(), FirstSipPort + 1);
        QVERIFY(registeredAt(FirstSipPort + 1));
    }

    // Call, connect, recorded from the connection (recordAll), the far end hangs up: one call-log
    // row, one recording holding the call's sound.
    void callIsRecordedAndLoggedWhenTheFarEndHangsUp() {
        auto p = registeredPhone({{QStringLiteral("recordAll"), QStringLiteral("True")}});
        QVERIFY(p);
        const QString number = BedNumber::HangUp;
        p->dial(number);
        QVERIFY(p->connected());
        QTRY_VERIFY_WITH_TIMEOUT(p->ui().CheckStartRecording->isChecked(), 2000);

        // The far end ends the call by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kFarEndCallMs + kEventMs);
        const int seconds = p->lastCallSeconds().toInt();
        QVERIFY2(seconds >= kFarEndCallMs / 1000 - 1 && seconds <= kFarEndCallMs / 1000 + 3,
                 qPrintable(p->callSeconds.join(" ")));
        QCOMPARE(p->callLogRows(), QStringList{p->row(number, QString())});

        // Named by the number and the (fixed) clock; closed properly, of the call's length, holding the echo.
        const QStringList waves = QDir(p->fixture.root().messages()).entryList({QStringLiteral("*.wav")}, QDir::Files);
        QCOMPARE(waves, QStringList{number + QStringLiteral("_050324_140709.wav")});
        const QString wave = QDir(p->fixture.root().messages()).filePath(waves.first());
        QVERIFY(riffSizeMatches(wave));
        const int ms = waveDurationMs(wave);
        QVERIFY2(qAbs(ms - kFarEndCallMs) < 700, qPrintable(QString::number(ms)));
        const double tone = toneLevel(wave, kToneHz, 300), other = toneLevel(wave, 700, 300);
        QVERIFY2(tone > 0.02 && tone > 10 * other, qPrintable(QStringLiteral("%1 / %2").arg(tone).arg(other)));
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
        auto p = registeredPhone();
        QVERIFY(p);
        // The reaction waits inside the handler, and a wait of the test would only return after it:
        // a timer that runs inside every wait notes when the caption and the row appear.
        QElapsedTimer clock;
        clock.start();
        qint64 shownAt = -1, rowAt = -1;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, this, [&] {
            if (shownAt < 0 && p->caption() == shown) shownAt = clock.elapsed();
            if (rowAt < 0 && !p->callLogRows().isEmpty()) rowAt = clock.elapsed();
        });
        watch.start();
        p->dial(number);
        QTRY_VERIFY_WITH_TIMEOUT(rowAt >= 0, 2000 + kEventMs);
        QVERIFY2(shownAt >= 0 && rowAt - shownAt >= 1900 && rowAt - shownAt < 3000,
                 qPrintable(QStringLiteral("caption at %1 ms, row at %2 ms").arg(shownAt).arg(rowAt)));
        QVERIFY(p->logged(reason));
        QCOMPARE(p->callLogRows(), QStringList{p->row(number, QStringLiteral("hang up"))});
        QCOMPARE(p->caption(), shown); // the caption keeps the result
        QVERIFY(!p->engine->IsLineBusy(0));
    }
};

QTEST_MAIN(TestWindowE2e)
#include "tst_window_e2e.moc"
