// The real window on the real engine against the loopback test bed, built as the program builds it
// on a temporary install root with the fake desktop services: start-up registers, a wrong password
// is refused, a taken SIP port is passed over, going offline unregisters; a call is recorded and
// logged when the far end hangs up; busy and unknown numbers are classified and hung up.

#include "dialer/LogRecords.h"
#include "phone/OnlineControl.h"
#include "support/BedWindow.h"

#include <QAbstractItemModel>
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

// The window and its engine, built as the program builds them.
struct Phone : BedWindow {
    QStringList callSeconds; // every text callsec took, in order
    QElapsedTimer sinceCreated;

    QStringList statusLog() const { return fixture.statusLog(); }
    QString caption() const { return ui().mouseMenu->text(); }
    QString onlineCaption() const { return ui().BtnOnline->text(); }
    QStringList callLogRows() const {
        QFile file(fixture.root().logFile(kDisplayName + QStringLiteral("_calllogs.csv")));
        if (!file.open(QIODevice::ReadOnly)) return {};
        const QString text = QString::fromUtf8(file.readAll());
        if (!text.endsWith(QLatin1String("\r\n"))) return {QStringLiteral("(no CR LF at the end) ") + text};
        return text.chopped(2).split(QStringLiteral("\r\n"));
    }
    int sipPort() const { return fixture.ctx().subsystems.online ? fixture.ctx().subsystems.online->sipPort() : 0; }
    // The last count callsec showed before it went back to "0" ("0" when it never counted).
    QString lastCallSeconds() const {
        for (qsizetype i = callSeconds.size() - 1; i > 0; --i)
            if (callSeconds.at(i) == QLatin1String("0") && callSeconds.at(i - 1) != QLatin1String("0"))
                return callSeconds.at(i - 1);
        return QStringLiteral("0");
    }
};

} // namespace

class TestWindowE2e : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
    QString m_tone;

    // A window on a fresh install root set up for the bed (account 1001, Mon = "True", so start-up
    // goes online by itself). extra settings replace the account's.
    std::unique_ptr<Phone> startPhone(const QList<QPair<QString, QString>>& extra = {}) {
        auto phone = std::make_unique<Phone>();
        phone->sinceCreated.start();
        BedWindow::Setup setup;
        setup.displayName = kDisplayName;
        setup.playFile = m_tone; // a tone the far end echoes back
        setup.extra = extra;
        phone->start(*m_bed, setup);
        Phone* p = phone.get();
        connect(p->ui().callsec, &QLineEdit::textChanged, this, [p](const QString& text) { p->callSeconds << text; });
        return phone;
    }

    // Started, online and registered: "Ready..." is all the status log holds.
    std::unique_ptr<Phone> registeredPhone(const QList<QPair<QString, QString>>& extra = {}) {
        auto phone = startPhone(extra);
        if (!phone || !phone->waitRegistered()) return nullptr;
        return phone;
    }

    static void dial(Phone* p, const QString& number) {
        p->ui().EditPhoneNo->setText(number);
        QTest::mouseClick(p->ui().BtnDial, Qt::LeftButton);
    }

    // Whether the registrar holds exactly one contact of account 1001, at port.
    bool registeredAt(int port) const {
        bool ok = false;
        const QStringList contacts = m_bed->locationContacts(Account1001.user, &ok);
        if (!ok || contacts.size() != 1) qWarning("contacts: %s", qPrintable(contacts.join(" | ")));
        return ok && contacts.size() == 1 && contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(port));
    }

    static void stopPhone(std::unique_ptr<Phone>& phone) {
        if (phone) phone->stop();
        phone.reset();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_bed = std::make_unique<SipTestBed>(SipTestBed::Options{kFarEndCallMs});
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
        m_tone = m_work.filePath(QStringLiteral("tone.wav"));
        QVERIFY(writeToneWave(m_tone, kToneHz, 60000));
    }

    void cleanupTestCase() {
        const QList<qint64> pids = m_bed->processIds();
        m_bed.reset();
        for (qint64 pid : pids)
            QVERIFY(!processGroupAlive(pid));
    }

    // Start-up: two seconds, the online button appears, one second later it is clicked; the phone
    // registers; going offline unregisters.
    void startUpGoesOnlineAndRegisters() {
        auto phone = startPhone();
        QVERIFY(phone);
        Phone* p = phone.get();
        QTRY_COMPARE_WITH_TIMEOUT(p->onlineCaption(), QStringLiteral("Offline"), 5000);
        QVERIFY2(p->sinceCreated.elapsed() >= 2900, qPrintable(QString::number(p->sinceCreated.elapsed())));

        QTRY_VERIFY_WITH_TIMEOUT(p->logLines.contains(QStringLiteral("Registered successfully.")), kEventMs);
        QTRY_COMPARE_WITH_TIMEOUT(p->statusLog(), QStringList{QStringLiteral("Ready...")}, 2000);
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());

        QVERIFY(p->sipPort() >= FirstSipPort && p->sipPort() < SipPortLimit);
        QVERIFY(registeredAt(p->sipPort()));

        // Offline: the engine stops and the registrar forgets the phone.
        QTest::mouseClick(p->ui().BtnOnline, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->locationContacts(Account1001.user).isEmpty(), kEventMs);
        QVERIFY(!phone->engine->isStarted());
        stopPhone(phone);
    }

    void wrongPasswordIsRefused() {
        auto phone = startPhone({{QStringLiteral("Password"), QStringLiteral("secret1002")}});
        QVERIFY(phone);
        Phone* p = phone.get();
        QTRY_VERIFY_WITH_TIMEOUT(p->logLines.contains(QStringLiteral("Failed: Forbidden")), 5000 + kEventMs);
        QCOMPARE(p->caption(), QStringLiteral("Failed to register."));
        QVERIFY(m_bed->locationContacts(Account1001.user).isEmpty());
        QCOMPARE(p->onlineCaption(), QStringLiteral("Offline")); // the engine runs; only the registration failed
        stopPhone(phone);
    }

    void takenSipPortIsPassedOver() {
        QUdpSocket holder;
        if (!holder.bind(QHostAddress::LocalHost, FirstSipPort))
            QSKIP("UDP port 5782 is already taken on this machine");
        if (isUdpPortBound(FirstSipPort + 1)) QSKIP("UDP port 5783 is already taken on this machine");
        auto phone = registeredPhone();
        QVERIFY(phone);
        QCOMPARE(phone->sipPort(), FirstSipPort + 1);
        QVERIFY(registeredAt(FirstSipPort + 1));
        stopPhone(phone);
    }

    // Call, connect, recorded from the connection (recordAll), the far end hangs up: one call-log
    // row, one recording holding the call's sound.
    void callIsRecordedAndLoggedWhenTheFarEndHangsUp() {
        auto phone = registeredPhone({{QStringLiteral("recordAll"), QStringLiteral("True")}});
        QVERIFY(phone);
        Phone* p = phone.get();
        const QString number = BedNumber::HangUp;
        dial(p, number);
        QTRY_VERIFY_WITH_TIMEOUT(p->logLines.contains(QStringLiteral("Line- 1: Success to connect.")), kEventMs);
        QTRY_VERIFY_WITH_TIMEOUT(p->ui().CheckStartRecording->isChecked(), 2000);

        // The far end ends the call by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kFarEndCallMs + kEventMs);
        const QDateTime now = p->fixture.fakes.clock.now();
        const QString seconds = p->lastCallSeconds();
        QVERIFY2(seconds.toInt() >= kFarEndCallMs / 1000 - 1 && seconds.toInt() <= kFarEndCallMs / 1000 + 3,
                 qPrintable(p->callSeconds.join(" ")));
        QCOMPARE(p->callLogRows(), QStringList{quoted({number, kDisplayName, seconds, callLogTimeText(now.time()),
                                                       callLogDateText(now.date()), QString()})});

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
        stopPhone(phone);
    }

    // A refused call: the caption shows the class at once, and two seconds later the hang-up ends
    // the call and writes its row.
    void refusedCallsAreClassifiedAndHungUp_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("shown");
        QTest::newRow("486 Busy Here") << BedNumber::Busy << QStringLiteral("BUSY");
        QTest::newRow("404 Not Found") << BedNumber::NotFound << QStringLiteral("Bad Number");
    }
    void refusedCallsAreClassifiedAndHungUp() {
        QFETCH(QString, number);
        QFETCH(QString, shown);
        auto phone = registeredPhone();
        QVERIFY(phone);
        Phone* p = phone.get();
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
        dial(p, number);
        QTRY_VERIFY_WITH_TIMEOUT(rowAt >= 0, 2000 + kEventMs);
        QVERIFY2(shownAt >= 0 && rowAt - shownAt >= 1900 && rowAt - shownAt < 3000,
                 qPrintable(QStringLiteral("caption at %1 ms, row at %2 ms").arg(shownAt).arg(rowAt)));
        QVERIFY(p->logLines.contains(shown == QLatin1String("BUSY") ? QStringLiteral("Busy Here")
                                                                    : QStringLiteral("Not Found")));
        const QDateTime now = p->fixture.fakes.clock.now();
        QCOMPARE(p->callLogRows(),
                 QStringList{quoted({number, kDisplayName, p->lastCallSeconds(), callLogTimeText(now.time()),
                                     callLogDateText(now.date()), QStringLiteral("hang up")})});
        QCOMPARE(p->caption(), shown); // the caption keeps the result
        QVERIFY(!p->engine->IsLineBusy(0));
        stopPhone(phone);
    }
};

QTEST_MAIN(TestWindowE2e)
#include "tst_window_e2e.moc"
