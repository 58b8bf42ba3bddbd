// The real window on the real engine against the loopback test bed: start-up goes online by
// itself and registers, a wrong password is refused, a taken SIP port is passed over, going offline
// unregisters; a call placed with the Call button connects, is recorded from the connection and
// logged when the far end hangs up; busy and unknown numbers are classified and hung up.
//
// The window is built as the program builds it (MainForm with a LinphoneEngine whose files live
// under the install root's bin/engine, its SIP traffic sent to the SipOutboundProxy setting), on a
// temporary install root, with the fake desktop services (message boxes, clipboard, ring sound,
// a fixed clock).

#include "dialer/LogRecords.h"
#include "engine/linphone/LinphoneEngine.h"
#include "integrations/PbxPage.h"
#include "phone/OnlineControl.h"
#include "support/MainFormFixture.h"
#include "testbed/TestBed.h"
#include "ui_MainForm.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kEventMs = 10000;
constexpr int kToneHz = 1000;
// The far end that hangs up keeps the call this long.
constexpr int kFarEndCallMs = 3000;
const QString kDisplayName = QStringLiteral("Demo Agent");
// Characters 3-6: the bed's PBX (its domain is pbx1234.<provider domain>); 7-10 the login; 11-20
// the password of account 1001.
const QString kCustomerNumber = QStringLiteral("DM12341001") + Account1001.password;

// What a 16-bit PCM wave file's header says, read from the file itself.
struct WaveInfo {
    bool valid = false;
    QString error;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    qint64 dataBytes = 0;
    double peak = 0; // 0..1 of full scale, first channel
    double rms = 0;
};

WaveInfo readWave(const QString& path) {
    WaveInfo info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        info.error = QStringLiteral("cannot open");
        return info;
    }
    const QByteArray bytes = file.readAll();
    auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") {
        info.error = QStringLiteral("no RIFF/WAVE header");
        return info;
    }
    if (qint64(u32(4)) + 8 != bytes.size()) {
        info.error = QStringLiteral("RIFF size %1 for a file of %2 bytes").arg(u32(4)).arg(bytes.size());
        return info;
    }
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const qint64 size = u32(at + 4);
        const qsizetype body = at + 8;
        if (body + size > bytes.size()) {
            info.error = QStringLiteral("chunk %1 runs past the end").arg(QString::fromLatin1(id));
            return info;
        }
        if (id == "fmt ") {
            if (size < 16 || u16(body) != 1) {
                info.error = QStringLiteral("not PCM");
                return info;
            }
            info.channels = u16(body + 2);
            info.rate = int(u32(body + 4));
            info.bits = u16(body + 14);
            haveFormat = info.channels > 0 && info.rate > 0 && info.bits == 16 &&
                         u32(body + 8) == quint32(info.rate * info.channels * 2) && u16(body + 12) == info.channels * 2;
            if (!haveFormat) {
                info.error = QStringLiteral("not 16-bit PCM with consistent rates");
                return info;
            }
        } else if (id == "data") {
            if (!haveFormat) {
                info.error = QStringLiteral("data before fmt");
                return info;
            }
            info.dataBytes = size;
            const int frame = 2 * info.channels;
            const qint64 frames = size / frame;
            double sumSquares = 0;
            for (qint64 i = 0; i < frames; ++i) {
                const double x = qint16(u16(body + i * frame)) / 32768.0;
                info.peak = qMax(info.peak, qAbs(x));
                sumSquares += x * x;
            }
            info.rms = frames ? std::sqrt(sumSquares / double(frames)) : 0;
            info.valid = true;
            return info;
        }
        at = body + size + (size & 1);
    }
    info.error = QStringLiteral("no data chunk");
    return info;
}

QString quoted(const QStringList& values) {
    QStringList parts;
    for (const QString& v : values)
        parts << QLatin1Char('"') + v + QLatin1Char('"');
    return parts.join(QLatin1Char(','));
}

// The window and its engine, built as the program builds them.
struct Phone {
    std::unique_ptr<LinphoneEngine> engine; // declared first: it outlives the window
    MainFormFixture fixture;
    QStringList logLines;    // every line the status log received, in order
    QStringList callSeconds; // every text callsec took, in order
    QElapsedTimer sinceCreated;

    Ui::MainForm& ui() const { return fixture.ui(); }
    QStringList statusLog() const {
        QStringList lines;
        for (int i = 0; i < ui().ListStatusLog->count(); ++i)
            lines << ui().ListStatusLog->item(i)->text();
        return lines;
    }
    QString caption() const { return ui().mouseMenu->text(); }
    QString onlineCaption() const { return ui().BtnOnline->text(); }
    QString callLogPath() const { return fixture.root().logFile(kDisplayName + QStringLiteral("_calllogs.csv")); }
    QStringList callLogRows() const {
        QFile file(callLogPath());
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
    // goes online by itself). extra settings come after the account's and replace them.
    std::unique_ptr<Phone> startPhone(const QList<QPair<QString, QString>>& extra = {}) {
        auto phone = std::make_unique<Phone>();
        const QString provider = SipTestBed::providerDomain();
        QList<QPair<QString, QString>> settings{
            {QStringLiteral("customerNumber"), kCustomerNumber},
            {QStringLiteral("Password"), kCustomerNumber.mid(10, 10)},
            {QStringLiteral("Login"), kCustomerNumber.mid(6, 4)},
            {QStringLiteral("AuthLogin"), kCustomerNumber.mid(6, 4)},
            {QStringLiteral("OutBoundProxy"), kCustomerNumber.mid(2, 4) + QLatin1Char('.') + provider},
            {QStringLiteral("SIPProxy"), kCustomerNumber.mid(2, 4) + QLatin1Char('.') + provider},
            {QStringLiteral("Mon"), QStringLiteral("True")},
            {QStringLiteral("ProviderDomain"), provider},
            {QStringLiteral("SipOutboundProxy"), m_bed->proxyAddress()},
            {QStringLiteral("DisplayName"), kDisplayName},
        };
        for (const auto& entry : extra) {
            settings.erase(
                std::remove_if(settings.begin(), settings.end(), [&](const auto& e) { return e.first == entry.first; }),
                settings.end());
            settings << entry;
        }
        phone->fixture.writeSettings(settings);

        // As the program does: the engine's files under bin/engine, and the outbound proxy taken
        // from the settings each time the phone goes online. The microphone is a tone the far
        // end echoes back.
        LinphoneEngine::Options options;
        options.dataDir = phone->fixture.root().engineDataDir();
        options.playFile = m_tone;
        phone->engine = std::make_unique<LinphoneEngine>(options);
        LinphoneEngine* engine = phone->engine.get();

        phone->sinceCreated.start();
        MainForm& window = phone->fixture.create(engine);
        WindowContext& ctx = window.context();
        if (!ctx.subsystems.online || !ctx.subsystems.pbxPage) {
            qWarning("the window has no online control or PBX page");
            return nullptr;
        }
        ctx.subsystems.online->setOutboundProxyHook([engine](const QString& hostPort) {
            LinphoneEngine::Options o = engine->options();
            o.outboundProxy = hostPort;
            engine->setOptions(o);
        });
        // The PBX page stays off the network.
        ctx.subsystems.pbxPage->setPageLoader([](const QUrl&) {});

        Phone* p = phone.get();
        QAbstractItemModel* model = phone->ui().ListStatusLog->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, [p, model](const QModelIndex&, int first, int last) {
            for (int row = first; row <= last; ++row)
                p->logLines << model->index(row, 0).data().toString();
        });
        connect(phone->ui().callsec, &QLineEdit::textChanged, this,
                [p](const QString& text) { p->callSeconds << text; });
        // The window's own defaults register and offer G.711; the sound options suit the tone.
        phone->ui().CheckEchoCancel->setChecked(false);         // it would cut the steady test tone into bursts
        phone->ui().CheckCaptureSoundDevice->setChecked(false); // the tone file, whatever sound card is there
        return phone;
    }

    // Started, online and registered: "Ready..." is all the status log holds.
    std::unique_ptr<Phone> registeredPhone(const QList<QPair<QString, QString>>& extra = {}) {
        auto phone = startPhone(extra);
        if (!phone) return nullptr;
        Phone* p = phone.get();
        if (!QTest::qWaitFor([p] { return p->statusLog() == QStringList{QStringLiteral("Ready...")}; },
                             5000 + kEventMs)) {
            qWarning("not registered; status log: %s; messages: %s", qPrintable(p->logLines.join(" | ")),
                     qPrintable(p->fixture.fakes.messages.texts().join(" | ")));
            return nullptr;
        }
        return phone;
    }

    void dial(Phone* p, const QString& number) {
        p->ui().EditPhoneNo->setText(number);
        QTest::mouseClick(p->ui().BtnDial, Qt::LeftButton);
    }

    static void stopPhone(std::unique_ptr<Phone>& phone) {
        if (!phone) return;
        if (phone->engine) phone->engine->EngineStop();
        QTest::qWait(0);
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
        QCOMPARE(p->onlineCaption(), QStringLiteral("OffLine"));
        QTRY_COMPARE_WITH_TIMEOUT(p->onlineCaption(), QStringLiteral("Offline"), 5000);
        QVERIFY2(p->sinceCreated.elapsed() >= 2900, qPrintable(QString::number(p->sinceCreated.elapsed())));
        QVERIFY(p->ui().BtnOnline->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(p->logLines.contains(QStringLiteral("Registered successfully.")), kEventMs);
        QVERIFY(p->logLines.contains(QStringLiteral("Registering to SIP Proxy.")));
        QTRY_COMPARE_WITH_TIMEOUT(p->statusLog(), QStringList{QStringLiteral("Ready...")}, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(p->caption(), QStringLiteral("Click Right Mouse Button for Menu"), 3000);
        QVERIFY(p->ui().autoCheck->isEnabled());
        QVERIFY(p->fixture.fakes.messages.boxes.isEmpty());

        const int port = p->sipPort();
        QVERIFY(port >= FirstSipPort && port < SipPortLimit);
        bool ok = false;
        const QStringList contacts = m_bed->locationContacts(Account1001.user, &ok);
        QVERIFY(ok);
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(port)), qPrintable(contacts.first()));

        // Offline: the engine stops and the registrar forgets the phone.
        QTest::mouseClick(p->ui().BtnOnline, Qt::LeftButton);
        QCOMPARE(p->onlineCaption(), QStringLiteral("Online"));
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
        QVERIFY(!p->logLines.contains(QStringLiteral("Registered successfully.")));
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
        QVERIFY(phone->fixture.fakes.messages.boxes.isEmpty());
        const QStringList contacts = m_bed->locationContacts(Account1001.user);
        QCOMPARE(contacts.size(), 1);
        QVERIFY2(contacts.first().contains(QStringLiteral("127.0.0.1:%1").arg(FirstSipPort + 1)),
                 qPrintable(contacts.first()));
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
        const qsizetype connecting = p->logLines.indexOf(QStringLiteral("Line- 1: Connecting."));
        QVERIFY2(connecting >= 0, qPrintable(p->logLines.join(" | ")));
        QVERIFY(connecting < p->logLines.indexOf(QStringLiteral("Line- 1: Success to connect.")));
        QTRY_VERIFY_WITH_TIMEOUT(p->ui().CheckStartRecording->isChecked(), 2000);

        // The far end ends the call by itself.
        QTRY_VERIFY_WITH_TIMEOUT(!p->callLogRows().isEmpty(), kFarEndCallMs + kEventMs);
        const QDateTime now = p->fixture.fakes.clock.now();
        const QString seconds = p->lastCallSeconds();
        QVERIFY2(seconds.toInt() >= kFarEndCallMs / 1000 - 1 && seconds.toInt() <= kFarEndCallMs / 1000 + 3,
                 qPrintable(p->callSeconds.join(" ")));
        QCOMPARE(p->callLogRows(), QStringList{quoted({number, kDisplayName, seconds, callLogTimeText(now.time()),
                                                       callLogDateText(now.date()), QString()})});
        QCOMPARE(p->ui().callsec->text(), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(p->statusLog().isEmpty(), 2000);

        // The recording: the number and the (fixed) clock name it; a valid wave file of about the
        // call's length holding the tone that the far end echoed.
        const QStringList waves = QDir(p->fixture.root().messages()).entryList({QStringLiteral("*.wav")}, QDir::Files);
        QCOMPARE(waves, QStringList{number + QStringLiteral("_050324_140709.wav")});
        const QString wave = QDir(p->fixture.root().messages()).filePath(waves.first());
        const WaveInfo info = readWave(wave);
        QVERIFY2(info.valid, qPrintable(info.error));
        const double seconds16 = double(info.dataBytes) / (2.0 * info.channels * info.rate);
        qInfo("recording: %d Hz, %d channel(s), %.2f s, peak %.3f, rms %.4f, %d Hz tone %.4f", info.rate, info.channels,
              seconds16, info.peak, info.rms, kToneHz, toneLevel(wave, kToneHz, 300));
        QVERIFY2(qAbs(seconds16 - kFarEndCallMs / 1000.0) < 0.7, qPrintable(QString::number(seconds16)));
        QVERIFY(info.rms > 0.01);
        const double tone = toneLevel(wave, kToneHz, 300);
        QVERIFY(tone > 0.02 && tone > 10 * toneLevel(wave, 700, 300));
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
        const QStringList rows = p->callLogRows();
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows.first().endsWith(QStringLiteral(",\"hang up\"")), qPrintable(rows.first()));
        QCOMPARE(rows.first(), quoted({number, kDisplayName, p->lastCallSeconds(), callLogTimeText(now.time()),
                                       callLogDateText(now.date()), QStringLiteral("hang up")}));
        QCOMPARE(p->caption(), shown); // the caption keeps the result
        QVERIFY(!p->engine->IsLineBusy(0));
        stopPhone(phone);
    }
};

QTEST_MAIN(TestWindowE2e)
#include "tst_window_e2e.moc"
