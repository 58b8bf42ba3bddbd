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

    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};
    std::unique_ptr<BedWindow> m_window;
    Ui::MainForm* ui = nullptr;

    QString journal() const {
        return QString::fromUtf8(m_window->fixture.readFile(QStringLiteral("logs/automation.log")));
    }
    void drop(const QString& name) const {
        QFile file(m_window->fixture.root().datalink() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    bool connected(const QString& number) {
        return m_window->connected() && m_run.bed->farEndMessages(SipTestBed::FarEnd::Answer)
                                            .contains(QStringLiteral("INVITE sip:%1@").arg(number));
    }
    int corvidDial(const QString& link) const {
        QProcess dial;
        dial.start(QStringLiteral(CORVID_DIAL_PROGRAM), {QStringLiteral("--root"), m_window->fixture.rootPath(), link});
        return dial.waitForFinished(10000) ? dial.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_run.start());
        // The window for account 1001 with the datalink channel on.
        m_window = m_run.window({{QStringLiteral("UseSipTapi"), QStringLiteral("True")}});
        QVERIFY(m_window);
        ui = &m_window->ui();
        ui->autoCheck->setChecked(true);
    }

    // Each test starts with the line free and an empty status log.
    void cleanup() {
        if (m_window->engine->IsLineBusy(0)) QTest::mouseClick(ui->BtnHangUp, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_window->engine->IsLineBusy(0), kEventMs);
        m_window->logLines.clear();
    }

    void cleanupTestCase() {
        m_phones.stopAll();
        m_window.reset();
        QVERIFY(m_run.stop());
    }

    void dialFileCallsAndEndFileHangsUp() {
        drop(QStringLiteral("9005550001.dia"));
        QVERIFY(connected(QStringLiteral("9005550001")));
        drop(QStringLiteral("done.end"));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->hasRow(0, QStringLiteral("9005550001"), QStringLiteral("hang up")),
                                 kEventMs);
        QVERIFY(QDir(m_window->fixture.root().datalink()).isEmpty());
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\t9005550001.dia\tdialled 9005550001 on Line- 1\r\n")));
        QVERIFY(journal().contains(QStringLiteral("\tdatalink\tdone.end\thung up (Line- 1)\r\n")));
    }

    void pamHandsTheCallToTheMessageService() {
        m_window->fixture.fakes.clipboard.put(QStringLiteral("9005550002"));
        QVERIFY(connected(QStringLiteral("9005550002")));
        ui->ComboTransferCall->setCurrentIndex(0);
        m_window->fixture.fakes.clipboard.put(QStringLiteral(" #pam "));
        QTRY_VERIFY_WITH_TIMEOUT(m_run.bed->farEndLog(SipTestBed::FarEnd::Answer).contains(QStringLiteral("*551001@")),
                                 kEventMs);
        // The row is written once the far end has taken the transfer, with the call's number.
        QTRY_VERIFY(m_window->hasRow(1, QStringLiteral("9005550002"), QStringLiteral("Answering Machine")));
        QVERIFY(journal().contains(QStringLiteral("\tclipboard\t#pam\tmessage drop on Line- 1\r\n")));
        QVERIFY(m_window->fixture.fakes.clipboard.text().isEmpty());
    }

    void aPlayedMessageReachesTheFarEnd() {
        EnginePhone* b = m_phones.add({Account1002, QString()});
        QVERIFY(b);
        m_window->dial(Account1002.user);
        QVERIFY(b->answer());
        QVERIFY(m_window->connected());

        ui->EditPlayFileName1->setText(m_run.tone(1500));
        ui->ComboPlayWave->setCurrentIndex(0);
        QTest::mouseClick(ui->PlayMsg1, Qt::LeftButton); // opens, waits 250 ms, starts
        QVERIFY(b->engine->StartRecording(0, 0, false));
        QTest::qWait(1500);
        const QString recording = m_run.work.filePath(QStringLiteral("b.wav"));
        QVERIFY(b->engine->SaveRecording(0, recording));
        QVERIFY(hearsTone(recording, 1500, 200, 1000)); // the message, not the microphone
    }

    void corvidDialLinkIsDialled() {
        QCOMPARE(corvidDial(QStringLiteral("tel:+1-900-555-0003")), 0);
        QVERIFY(connected(QStringLiteral("9005550003")));
        // A link that is no telephone number: refused, nothing dropped.
        QCOMPARE(corvidDial(QStringLiteral("sip:1001@pbx")), 2);
        QVERIFY(QDir(m_window->fixture.root().datalink()).isEmpty());
    }
};

QTEST_MAIN(TestAutomationE2e)
#include "tst_automation_e2e.moc"
