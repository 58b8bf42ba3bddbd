// Calls to the agent, by sipp through the loopback proxy (and once straight from another port),
// against the real window: declined at once by default; with TakeIncomingCalls answered, refused,
// missed, two at once, answered by itself when the PBX asks, and not when a stranger asks.

#include "support/BedWindow.h"

#include "phone/OnlineControl.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace corvid;
using namespace corvid::test;

class TestIncomingE2e : public QObject {
    Q_OBJECT
    BedRun m_run;
    std::unique_ptr<BedWindow> m_phone;
    QList<QProcess*> m_callers;

    // A caller ("display name;user") running scenario against target (default: the proxy), its
    // INVITE carrying the header line.
    QProcess* call(const QString& caller, const QString& header = QStringLiteral("X-Test: plain"),
                   const QString& scenario = QStringLiteral("uac_incoming.xml"), const QString& target = {}) {
        const QString name = m_run.work.filePath(QStringLiteral("caller%1").arg(m_callers.size()));
        QFile csv(name + QStringLiteral(".csv"));
        // Closed (written out) before the caller starts: it reads the file at once.
        if (!csv.open(QIODevice::WriteOnly) || csv.write("SEQUENTIAL\n" + caller.toLatin1() + "\n") < 0 ||
            !csv.flush())
            return nullptr;
        csv.close();
        auto* sipp = new QProcess(this);
        sipp->setProcessChannelMode(QProcess::MergedChannels);
        sipp->setWorkingDirectory(m_run.work.path());
        sipp->setProperty("trace", name + QStringLiteral(".trace"));
        sipp->start(QStringLiteral("sipp"),
                    QStringList{target.isEmpty() ? m_run.bed->proxyAddress() : target, "-sf",
                                CORVID_TESTBED_PBX "/" + scenario, "-inf", csv.fileName(), "-key", "header", header,
                                "-p", QString::number(freeUdpPort()), "-mp", QString::number(freeUdpPort(2)),
                                "-message_file", name + QStringLiteral(".trace")} +
                        QStringLiteral("-m 1 -s 1001 -i 127.0.0.1 -nostdin -timeout 30s -trace_msg").split(' '));
        return m_callers << sipp, sipp;
    }
    // Until the caller ends: whether its scenario went through; trace gets what it received.
    static bool done(QProcess* sipp, QString* trace = nullptr) {
        if (!sipp || (sipp->state() != QProcess::NotRunning && !QSignalSpy(sipp, &QProcess::finished).wait(40000)))
            return false;
        QFile file(sipp->property("trace").toString());
        if (trace && file.open(QIODevice::ReadOnly)) *trace = QString::fromLatin1(file.readAll());
        if (sipp->exitCode() != 0) qWarning("sipp: %s", sipp->readAll().right(1500).constData());
        return sipp->exitCode() == 0;
    }
    bool listed(int calls) const {
        return QTest::qWaitFor([&] { return m_phone->ui().ListIncomingCall->count() == calls; }, BedWindow::WaitMs);
    }
    void click(QWidget* button, int row = 0) const {
        m_phone->ui().ListIncomingCall->setCurrentRow(row);
        QTest::mouseClick(button, Qt::LeftButton);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_run.start());
        m_phone = m_run.window({{QStringLiteral("recordAll"), QStringLiteral("True")},
                                {QStringLiteral("RejectCode"), QStringLiteral("603")}});
        QVERIFY(m_phone);
    }
    void cleanupTestCase() {
        for (QProcess* sipp : m_callers)
            sipp->kill(), sipp->waitForFinished(3000);
        m_phone.reset();
        QVERIFY(m_run.stop());
    }

    // One caller at a time; the agent answers, rejects, or lets it ring.
    void oneCaller_data() {
        QTest::addColumn<QString>("take");     // TakeIncomingCalls
        QTest::addColumn<QString>("scenario"); // of the caller 555000<n> (n: the row's)
        QTest::addColumn<QString>("action");   // what the agent does once the call is listed
        QTest::addColumn<QString>("wire");     // the caller got this
        QTest::addColumn<QString>("result");   // of the call's row; "-": no row
        QTest::newRow("1 declined at once") << ""
                                            << "uac_incoming.xml"
                                            << ""
                                            << "SIP/2.0 486"
                                            << "-";
        QTest::newRow("2 answered") << "True"
                                    << "uac_incoming.xml"
                                    << "answer"
                                    << "SIP/2.0 200"
                                    << "incoming";
        QTest::newRow("3 rejected") << "True"
                                    << "uac_incoming.xml"
                                    << "reject"
                                    << "SIP/2.0 603"
                                    << "-";
        QTest::newRow("4 missed") << "True"
                                  << "uac_invite_cancel.xml"
                                  << ""
                                  << "SIP/2.0 487"
                                  << "missed";
    }
    void oneCaller() {
        QFETCH(QString, take);
        QFETCH(QString, scenario);
        QFETCH(QString, action);
        QFETCH(QString, wire);
        QFETCH(QString, result);
        m_phone->fixture.setSetting(QStringLiteral("TakeIncomingCalls"), take);
        const QString number = QStringLiteral("555000") + QString::fromLatin1(QTest::currentDataTag()).left(1);
        const int rows = m_phone->callLogRows().size(), waves = m_phone->recordings().size();
        QProcess* sipp = call(QStringLiteral("Caller   Name;") + number, QStringLiteral("X-Test: plain"), scenario);
        if (!action.isEmpty()) {
            QVERIFY(listed(1));
            QCOMPARE(m_phone->ui().ListIncomingCall->item(0)->text(), number + QStringLiteral("  Caller Name"));
            QVERIFY(m_phone->fixture.fakes.ring.isPlaying());
            click(action == QLatin1String("answer") ? m_phone->ui().BtnAccept : m_phone->ui().BtnReject);
        }
        QString trace;
        QVERIFY(done(sipp, &trace));
        QVERIFY2(trace.contains(wire), qPrintable(trace.right(600)));
        QTRY_COMPARE_WITH_TIMEOUT(m_phone->callLogRows().size(), rows + (result == QLatin1String("-") ? 0 : 1),
                                  BedWindow::WaitMs);
        QVERIFY(result == QLatin1String("-") || m_phone->hasRow(rows, number, result));
        QCOMPARE(m_phone->ui().ListIncomingCall->count(), 0);
        QVERIFY(!m_phone->fixture.fakes.ring.isPlaying());
        // The answered call was recorded (recordAll) for the seconds it was up.
        QCOMPARE(m_phone->recordings().size(), waves + (action == QLatin1String("answer") ? 1 : 0));
        if (action == QLatin1String("answer")) QVERIFY(waveDurationMs(m_phone->recordings().constLast()) >= 1000);
    }

    // Two callers ring; the agent answers the first, the second waits (a short tone) and is
    // answered on the other line once the agent chooses a free one.
    void twoCallersAtOnce() {
        m_phone->fixture.setSetting(QStringLiteral("TakeIncomingCalls"), QStringLiteral("True"));
        const int rows = m_phone->callLogRows().size();
        QProcess* first = call(QStringLiteral("A;5550004444"));
        QVERIFY(listed(1));
        QProcess* second = call(QStringLiteral("B;5550005555"));
        QVERIFY(listed(2));
        click(m_phone->ui().BtnAccept);
        QVERIFY(m_phone->waitLogged(QStringLiteral("Line- 1: Answered - 5550004444")));
        QVERIFY(m_phone->fixture.fakes.ring.beeps >= 1);
        click(m_phone->ui().BtnAccept); // line 1 is busy: says why
        QTRY_COMPARE(m_phone->fixture.fakes.messages.boxes.size(), 1);
        m_phone->ui().ComboIncomingCall->setCurrentIndex(1);
        click(m_phone->ui().BtnAccept);
        QVERIFY(m_phone->waitLogged(QStringLiteral("Line- 2: Answered - 5550005555")));
        QVERIFY(done(first) && done(second));
        QTRY_COMPARE_WITH_TIMEOUT(m_phone->callLogRows().size(), rows + 2, BedWindow::WaitMs);
        m_phone->ui().ComboIncomingCall->setCurrentIndex(0);
    }

    // The same answer-after header: from a stranger (straight to the agent's port) the call only
    // rings; through the proxy, arriving later, it is answered at once, with a short tone.
    void autoAnswerOnlyWhenThePbxAsks() {
        m_phone->fixture.setSetting(QStringLiteral("TakeIncomingCalls"), QStringLiteral("True"));
        m_phone->fixture.setSetting(QStringLiteral("AutoAnswer"), QStringLiteral("PbxRequested"));
        const QString header = QStringLiteral("Call-Info: <sip:pbx.invalid>;answer-after=0");
        const QString agent = QStringLiteral("127.0.0.1:%1").arg(m_phone->fixture.ctx().subsystems.online->sipPort());
        QProcess* stranger = call(QStringLiteral("S;5550006666"), header, QStringLiteral("uac_incoming.xml"), agent);
        QVERIFY(listed(1));
        const int beeps = m_phone->fixture.fakes.ring.beeps;
        QProcess* pbx = call(QStringLiteral("P;5550007777"), header);
        QVERIFY(m_phone->waitLogged(QStringLiteral("Line- 1: Answered - 5550007777")));
        QVERIFY(m_phone->fixture.fakes.ring.beeps > beeps);
        QCOMPARE(m_phone->ui().ListIncomingCall->item(0)->text(), QStringLiteral("5550006666  S"));
        click(m_phone->ui().BtnReject);
        QString trace;
        QVERIFY(done(stranger, &trace) && done(pbx));
        QVERIFY(trace.contains(QLatin1String("SIP/2.0 603")));
    }
};

QTEST_MAIN(TestIncomingE2e)
#include "tst_incoming_e2e.moc"
