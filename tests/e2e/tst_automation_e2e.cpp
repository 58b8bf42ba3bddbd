// The dial automation of the real window on the real engine against the loopback test bed: a
// dropped dial file is called and an end file ends the call with its row; "#pam" hands the call to
// the message service; a message played into the line reaches the far end; a tel: link given to
// corvid-dial is dialled. Ten-digit numbers starting with 9 reach the far end that answers.

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QProcess>
#include <QtTest>

using namespace corvid;
using namespace corvid::test;

class TestAutomationE2e : public QObject {
    Q_OBJECT

    std::unique_ptr<SipTestBed> m_bed;
    QTemporaryDir m_work{QDir::tempPath() + QStringLiteral("/corvid-e2e-XXXXXX")};
    EnginePhones m_phones{m_bed, m_work};
    std::unique_ptr<BedWindow> m_window;
    Ui::MainForm* ui = nullptr;

    QString tone(int hz) const { return m_work.filePath(QStringLiteral("tone%1.wav").arg(hz)); }
    QString farEnd() const { return m_bed->farEndMessages(SipTestBed::FarEnd::Answer); }
    QStringList rows() const { return m_window->callLogRows(); }
    QString journal() const {
        return QString::fromUtf8(m_window->fixture.readFile(QStringLiteral("logs/automation.log")));
    }
    void drop(const QString& name) const {
        QFile file(m_window->fixture.root().datalink() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    bool connected(const QString& number) {
        return m_window->waitLogged(QStringLiteral("Line- 1: Success to connect.")) &&
               farEnd().contains(QStringLiteral("INVITE sip:%1@").arg(number));
    }
    void hangUp() {
        QTest::mouseClick(ui->BtnHangUp, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->engine->IsLineBusy(0), kEventMs);
        m_window->logLines.clear();
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_work.isValid());
        m_bed = std::make_unique<SipTestBed>();
        QVERIFY2(m_bed->start(), qPrintable(m_bed->errorString()));
        for (int hz : {1000, 1500})
            QVERIFY(writeToneWave(tone(hz), hz, 20000));

        // The window for account 1001 with the datalink channel on.
        m_window = std::make_unique<BedWindow>();
        BedWindow::Setup setup;
        setup.playFile = tone(1000);
        setup.extra = {{QStringLiteral("UseSipTapi"), QStringLiteral("True")}};
        m_window->start(*m_bed, setup);
        ui = &m_window->ui();
        QVERIFY(m_window->waitRegistered());
        ui->autoCheck->setChecked(true);
        m_window->logLines.clear();
    }

    void cleanupTestCase() {
        m_phones.stopAll();
        m_window->stop();
        m_window.reset();
    }

    void dialFileCallsAndEndFileHangsUp() {
        drop(QStringLiteral("9005550001.dia"));
        QVERIFY(connected(QStringLiteral("9005550001")));
        drop(QStringLiteral("done.end"));
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->engine->IsLineBusy(0), kEventMs);
        QTRY_VERIFY(!rows().isEmpty() && rows().first().startsWith(QStringLiteral("\"9005550001\",\"Demo Agent\",")));
        QVERIFY(rows().first().endsWith(QStringLiteral(",\"hang up\"")));
        QVERIFY(QDir(m_window->fixture.root().datalink()).isEmpty());
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\t9005550001.dia\tdialled 9005550001 on Line- 1\r\n")));
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\tdone.end\thung up (Line- 1)\r\n")));
        m_window->logLines.clear();
    }

    void pamHandsTheCallToTheMessageService() {
        m_window->fixture.fakes.clipboard.put(QStringLiteral("9005550002"));
        QVERIFY(connected(QStringLiteral("9005550002")));
        ui->ComboTransferCall->setCurrentIndex(0);
        m_window->fixture.fakes.clipboard.put(QStringLiteral(" #pam "));
        QTRY_VERIFY_WITH_TIMEOUT(m_bed->farEndLog(SipTestBed::FarEnd::Answer).contains(QStringLiteral("*551001@")),
                                 kEventMs);
        QTRY_VERIFY(rows().size() >= 2 && rows().at(1).endsWith(QStringLiteral(",\"Answering Machine\"")));
        QVERIFY(m_window->logged(QStringLiteral("Line- 1: Answering Machine ")));
        QVERIFY(m_window->fixture.fakes.clipboard.current().isEmpty());
        if (m_window->engine->IsLineBusy(0)) hangUp();
        m_window->logLines.clear();
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
        QTRY_VERIFY_WITH_TIMEOUT(m_window->logged(QStringLiteral("Line- 1: Success to connect.")), kEventMs);

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
                   {QStringLiteral("--root"), m_window->fixture.rootPath(), QStringLiteral("tel:+1-900-555-0003")});
        QVERIFY(dial.waitForFinished(10000));
        QCOMPARE(dial.exitCode(), 0);
        QVERIFY(connected(QStringLiteral("9005550003")));
        hangUp();

        dial.start(QStringLiteral(CORVID_DIAL_PROGRAM),
                   {QStringLiteral("--root"), m_window->fixture.rootPath(), QStringLiteral("sip:1001@pbx")});
        QVERIFY(dial.waitForFinished(10000));
        QCOMPARE(dial.exitCode(), 2);
        QVERIFY(QDir(m_window->fixture.root().datalink()).isEmpty());
    }
};

QTEST_MAIN(TestAutomationE2e)
#include "tst_automation_e2e.moc"
