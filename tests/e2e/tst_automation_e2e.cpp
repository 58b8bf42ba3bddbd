// The dial automation of the real window on the real engine against the loopback test bed: a
// dropped dial file is called and an end file ends the call with its row; "#pam" hands the call to
// the message service; a message played into the line reaches the far end; a tel: link given to
// corvid-dial is dialled. Ten-digit numbers starting with 9 reach the far end that answers.

#include "dialer/Automation.h"
#include "phone/OnlineControl.h"
#include "support/EnginePhone.h"
#include "support/MainFormFixture.h"
#include "ui_MainForm.h"

#include <QAbstractItemModel>
#include <QProcess>
#include <QtTest>

using namespace corvid;
using namespace corvid::test;

namespace {
const QString kDisplayName = QStringLiteral("Demo Agent");
const QString kCustomerNumber = QStringLiteral("DM12341001") + Account1001.password;
} // namespace

class TestAutomationE2e : public QObject {
    Q_OBJECT

    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
    EnginePhones m_phones{m_bed, m_work};
    std::unique_ptr<LinphoneEngine> m_engine; // outlives the window
    std::unique_ptr<MainFormFixture> m_fixture;
    Ui::MainForm* ui = nullptr;
    QStringList m_log; // every status-log line, in order

    QString tone(int hz) const { return m_work.filePath(QStringLiteral("tone%1.wav").arg(hz)); }
    QString farEnd() const { return m_bed->farEndMessages(SipTestBed::FarEnd::Answer); }
    QStringList rows() const {
        QFile file(m_fixture->root().logFile(kDisplayName + QStringLiteral("_calllogs.csv")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))
                                              : QStringList();
    }
    QString journal() const {
        QFile file(m_fixture->root().logFile(QStringLiteral("automation.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void drop(const QString& name) const {
        QFile file(m_fixture->root().datalink() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    bool connected(const QString& number) {
        return QTest::qWaitFor([&] { return m_log.contains(QStringLiteral("Line- 1: Success to connect.")); },
                               kEventMs) &&
               farEnd().contains(QStringLiteral("INVITE sip:%1@").arg(number));
    }
    void hangUp() {
        QTest::mouseClick(ui->BtnHangUp, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_engine->IsLineBusy(0), kEventMs);
        m_log.clear();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_bed = std::make_unique<SipTestBed>();
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
        for (int hz : {1000, 1500})
            QVERIFY(writeToneWave(tone(hz), hz, 20000));

        // The window as the program builds it, for account 1001 with the datalink channel on.
        m_fixture = std::make_unique<MainFormFixture>();
        const QString provider = SipTestBed::providerDomain(), pbx = kCustomerNumber.mid(2, 4) + '.' + provider;
        m_fixture->writeSettings({{"customerNumber", kCustomerNumber},
                                  {"Password", kCustomerNumber.mid(10, 10)},
                                  {"Login", "1001"},
                                  {"AuthLogin", "1001"},
                                  {"OutBoundProxy", pbx},
                                  {"SIPProxy", pbx},
                                  {"Mon", "True"},
                                  {"ProviderDomain", provider},
                                  {"SipOutboundProxy", m_bed->proxyAddress()},
                                  {"DisplayName", kDisplayName},
                                  {"UseSipTapi", "True"}});
        LinphoneEngine::Options options;
        options.dataDir = m_fixture->root().engineDataDir();
        options.playFile = tone(1000);
        m_engine = std::make_unique<LinphoneEngine>(options);
        LinphoneEngine* engine = m_engine.get();
        MainForm& window = m_fixture->create(engine);
        ui = window.form();
        window.context().subsystems.online->setOutboundProxyHook([engine](const QString& hostPort) {
            LinphoneEngine::Options o = engine->options();
            o.outboundProxy = hostPort;
            engine->setOptions(o);
        });
        QAbstractItemModel* model = ui->ListStatusLog->model();
        connect(model, &QAbstractItemModel::rowsInserted, this, [this, model](const QModelIndex&, int first, int last) {
            for (int row = first; row <= last; ++row)
                m_log << model->index(row, 0).data().toString();
        });
        ui->CheckEchoCancel->setChecked(false);
        ui->CheckCaptureSoundDevice->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(QStringLiteral("Registered successfully.")), 5000 + kEventMs);
        ui->autoCheck->setChecked(true);
        m_log.clear();
    }

    void cleanupTestCase() {
        m_phones.stopAll();
        if (m_engine) m_engine->EngineStop();
        QTest::qWait(0);
        m_fixture.reset();
        m_engine.reset();
    }

    void dialFileCallsAndEndFileHangsUp() {
        drop(QStringLiteral("9005550001.dia"));
        QVERIFY(connected(QStringLiteral("9005550001")));
        drop(QStringLiteral("done.end"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_engine->IsLineBusy(0), kEventMs);
        QTRY_VERIFY(rows().first().startsWith(QStringLiteral("\"9005550001\",\"Demo Agent\",")));
        QVERIFY(rows().first().endsWith(QStringLiteral(",\"hang up\"")));
        QVERIFY(QDir(m_fixture->root().datalink()).isEmpty());
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\t9005550001.dia\tdialled 9005550001 on Line- 1\r\n")));
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\tdone.end\thung up (Line- 1)\r\n")));
        m_log.clear();
    }

    void pamHandsTheCallToTheMessageService() {
        m_fixture->fakes.clipboard.put(QStringLiteral("9005550002"));
        QVERIFY(connected(QStringLiteral("9005550002")));
        ui->ComboTransferCall->setCurrentIndex(0);
        m_fixture->fakes.clipboard.put(QStringLiteral(" #pam "));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains(QStringLiteral("*551001@")),
                                 kEventMs);
        QTRY_VERIFY(rows().size() >= 2 && rows().at(1).endsWith(QStringLiteral(",\"Answering Machine\"")));
        QVERIFY(m_log.contains(QStringLiteral("Line- 1: Answering Machine ")));
        QVERIFY(m_fixture->fakes.clipboard.current().isEmpty());
        if (m_engine->IsLineBusy(0)) hangUp();
        m_log.clear();
    }

    void aPlayedMessageReachesTheFarEnd() {
        PhoneSetup setup;
        setup.account = Account1002;
        EnginePhone* b = m_phones.add(setup);
        QVERIFY(b);
        ui->EditPhoneNo->setText(Account1002.user);
        QTest::mouseClick(ui->BtnDial, Qt::LeftButton);
        QVERIFY(b->waitForName(QStringLiteral("IncomingCall")));
        QVERIFY(b->engine->AnswerCall(0, b->log->first(QStringLiteral("IncomingCall")).at(0).toString(), -1, -1));
        QTRY_VERIFY_WITH_TIMEOUT(m_log.contains(QStringLiteral("Line- 1: Success to connect.")), kEventMs);

        ui->EditPlayFileName1->setText(tone(1500));
        ui->ComboPlayWave->setCurrentIndex(0);
        QTest::mouseClick(ui->PlayMsg1, Qt::LeftButton); // opens, waits 250 ms, starts
        QVERIFY(b->engine->StartRecording(0, 0, false));
        QTest::qWait(1500);
        const QString recording = m_work.filePath(QStringLiteral("b.wav"));
        QVERIFY(b->engine->SaveRecording(0, recording));
        const double played = toneLevel(recording, 1500, 200), mic = toneLevel(recording, 1000, 200);
        QVERIFY2(played > 0.02 && played > 10 * mic, qPrintable(QStringLiteral("%1 / %2").arg(played).arg(mic)));
        hangUp();
    }

    void corvidDialLinkIsDialled() {
        QProcess dial;
        dial.start(QStringLiteral(CORVID_DIAL_PROGRAM),
                   {QStringLiteral("--root"), m_fixture->rootPath(), QStringLiteral("tel:+1-900-555-0003")});
        QVERIFY(dial.waitForFinished(10000));
        QCOMPARE(dial.exitCode(), 0);
        QVERIFY(connected(QStringLiteral("9005550003")));
        hangUp();

        dial.start(QStringLiteral(CORVID_DIAL_PROGRAM),
                   {QStringLiteral("--root"), m_fixture->rootPath(), QStringLiteral("sip:1001@pbx")});
        QVERIFY(dial.waitForFinished(10000));
        QCOMPARE(dial.exitCode(), 2);
        QVERIFY(QDir(m_fixture->root().datalink()).isEmpty());
    }
};

QTEST_MAIN(TestAutomationE2e)
#include "tst_automation_e2e.moc"
