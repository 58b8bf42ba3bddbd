// Agent monitoring on the real window with the fake engine: the monitor list and the DDE buttons end
// the current call and dial the feature code + the target on the current line; the agent list calls
// "*33" + the extension on line 2 and is reloaded from its file; the DDE buttons over a private
// session bus answer engine errors and a busy press as D-Bus errors, never with a box.

#include "CallsWindow.h"

#include "integrations/Monitoring.h"
#include "support/PrivateSessionBus.h"

#include <QAction>
#include <QElapsedTimer>
#include <QProcess>

#include "phone/EngineErrors.h"

using namespace corvid;
using namespace corvid::test;

namespace {

struct MonitorWindow : CallsWindow {
    MonitorWindow() {
        goOnline(2);
        ui.ComboDial->setCurrentIndex(0);
    }
    // "EndCall(0)", "PlaceCall(1,*33204)": the call operations in order.
    QStringList callOps() const {
        QStringList ops;
        for (const FakeEngine::Call& c : engine.calls())
            if (c.name == QLatin1String("EndCall") || c.name == QLatin1String("PlaceCall")) {
                QStringList args;
                for (int i = 0; i < qMin(2, int(c.args.size())); ++i)
                    args << c.args.at(i).toString();
                ops << c.name + QLatin1Char('(') + args.join(QLatin1Char(',')) + QLatin1Char(')');
            }
        return ops;
    }
};

} // namespace

class TestMonitoring : public QObject {
    Q_OBJECT
    PrivateSessionBus m_bus;

private slots:
    void initTestCase() { QVERIFY2(m_bus.start(), "no private session bus (dbus-daemon)"); }
    void cleanupTestCase() {
        const qint64 pid = m_bus.pid();
        m_bus.stop();
        QVERIFY(!processGroupAlive(pid));
    }

    // The monitor list: the current call ends, half a second later the code + the first ten
    // characters of the trimmed entry are dialled on the current line.
    void monitorList_data() {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("coach");
        QTest::addColumn<QStringList>("ops");
        QTest::newRow("13 digits, coach")
            << " 5551234567890 " << true << QStringList{"EndCall(1)", "PlaceCall(1,1985551234567)"};
        QTest::newRow("listen") << "205" << false << QStringList{"EndCall(1)", "PlaceCall(1,199205)"};
        QTest::newRow("empty entry") << "" << false << QStringList{"EndCall(1)"};
    }
    void monitorList() {
        QFETCH(QString, entry);
        QFETCH(bool, coach);
        QFETCH(QStringList, ops);
        MonitorWindow w;
        w.ui.ComboDial->setCurrentIndex(1);
        w.ui.CorvidCheck->setChecked(coach);
        w.ui.MonList->addItem(entry);
        QListWidgetItem* item = w.ui.MonList->item(w.ui.MonList->count() - 1);
        w.ui.MonList->setCurrentItem(item);
        QElapsedTimer clock;
        clock.start();
        emit w.ui.MonList->itemDoubleClicked(item);
        QVERIFY(clock.elapsed() >= Monitoring::MonitorWaitMs - 20);
        QCOMPARE(w.callOps(), ops);
        QCOMPARE(w.ctx.state.MonitorTarget, entry.trimmed().left(10));
        QVERIFY(w.fakes.messages.texts().isEmpty());
    }

    // The DDE buttons take the box's text; an empty box dials the bare code.
    void ddeButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("dialled");
        QTest::newRow("listen 205") << "DDEListen"
                                    << "205"
                                    << "199205";
        QTest::newRow("coach 205") << "DDECorvid"
                                   << " 205 "
                                   << "198205";
        QTest::newRow("empty box") << "DDEListen"
                                   << ""
                                   << "199";
    }
    void ddeButtons() {
        QFETCH(QString, button);
        QFETCH(QString, text);
        QFETCH(QString, dialled);
        MonitorWindow w;
        w.ui.corvidDDEtxt->setText(text);
        QTest::mouseClick(w.fixture.find<QPushButton>(button), Qt::LeftButton);
        QCOMPARE(w.callOps(), (QStringList{"EndCall(0)", "PlaceCall(0," + dialled + ")"}));
        QVERIFY(w.ui.DDEListen->isEnabled() && w.ui.DDECorvid->isEnabled());
    }

    // The file is read field by field up to 49 entries; a click calls "*33" + the extension on
    // line 2; an entry without "_" only fills the number field; "Edit Agent List" opens the file.
    void agentList() {
        MonitorWindow w;
        QByteArray file = "201_Ann,202_Bob\r\n\"204_Smith, Jr\"\r\nNobody\r\n";
        for (int n = 0; n < 60; ++n)
            file += QByteArray::number(300 + n) + "_x\r\n";
        w.fixture.writeFile(QStringLiteral("bin/agentlist.txt"), file);
        w.ui.agentList->addItem(QStringLiteral("stale"));
        w.ui.ralCmd->trigger();
        QCOMPARE(w.ui.agentList->count(), 49);
        QCOMPARE(w.ui.agentList->item(0)->text(), QStringLiteral("201_Ann"));

        QListWidgetItem* smith = w.ui.agentList->item(2);
        QCOMPARE(smith->text(), QStringLiteral("204_Smith, Jr"));
        emit w.ui.agentList->itemClicked(smith);
        QCOMPARE(w.callOps(), (QStringList{"EndCall(0)", "PlaceCall(1,*33204)"}));
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("204_Smith, Jr"));
        QCOMPARE(w.statusLog().last(), QStringLiteral("Line- 2: Dialing - 204"));

        w.engine.clearCalls();
        w.engine.lineRef(1).busy = false;
        emit w.ui.agentList->itemClicked(w.ui.agentList->item(3)); // "Nobody"
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 0);
        QCOMPARE(w.ui.EditPhoneNo->text(), QStringLiteral("Nobody"));

        w.ui.ealCmd->trigger();
        QCOMPARE(w.fakes.desktop.editedFiles, QStringList{w.ctx.root.binFile(QStringLiteral("agentlist.txt"))});
    }

    // Over the bus the error the window would show in a box comes back as a D-Bus error, and the
    // window shows nothing.
    void busPressAnswersEngineErrorWithoutBox() {
        MonitorWindow w;
        QCOMPARE(PrivateSessionBus::dde(QStringLiteral("SetText"), {QStringLiteral("string:205")}).exitCode, 0);
        const PrivateSessionBus::Result text = PrivateSessionBus::dde(QStringLiteral("Text"));
        QVERIFY2(text.output.contains(QLatin1String("string \"205\"")), qPrintable(text.output));

        w.engine.failAlways(QStringLiteral("PlaceCall"), EngineError::LineNotOpen);
        const PrivateSessionBus::Result press = PrivateSessionBus::dde(QStringLiteral("DDEListen"));
        QVERIFY(press.exitCode != 0);
        QVERIFY2(press.output.contains(QLatin1String("org.corviddialer.Error.Engine")), qPrintable(press.output));
        QVERIFY2(press.output.contains(engineErrorMessage(EngineError::LineNotOpen)), qPrintable(press.output));
        QCOMPARE(w.engine.last(QStringLiteral("PlaceCall")).value(1).toString(), QStringLiteral("199205"));
        QVERIFY(w.fakes.messages.texts().isEmpty());
    }

    // Two programs pressing at once: one call is placed, the other press is refused as busy.
    void secondBusPressIsRefusedWhileTheFirstRuns() {
        MonitorWindow w;
        w.ui.corvidDDEtxt->setText(QStringLiteral("205"));
        const QStringList args{QStringLiteral("--session"), QStringLiteral("--print-reply"),
                               QStringLiteral("--dest=org.corviddialer.Dialer"), QStringLiteral("/Dde"),
                               QStringLiteral("org.corviddialer.Dde.DDECorvid")};
        QProcess first, second;
        for (QProcess* p : {&first, &second}) {
            p->setProcessChannelMode(QProcess::MergedChannels);
            p->start(QStringLiteral("dbus-send"), args);
        }
        QTRY_VERIFY_WITH_TIMEOUT(first.state() == QProcess::NotRunning && second.state() == QProcess::NotRunning,
                                 10000);
        const QString outputs = QString::fromLocal8Bit(first.readAll() + second.readAll());
        QCOMPARE(first.exitCode() + second.exitCode(), 1);
        QVERIFY2(outputs.contains(QLatin1String("org.corviddialer.Error.Busy")), qPrintable(outputs));
        QCOMPARE(w.engine.count(QStringLiteral("PlaceCall")), 1);
        QVERIFY(w.ui.DDEListen->isEnabled());
    }
};

QTEST_MAIN(TestMonitoring)
#include "tst_monitoring.moc"
