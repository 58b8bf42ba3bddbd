// Agent monitoring on the real window with the fake engine: the monitor list and the DDE buttons end
// the current call and, half a second later, dial the feature code + the target on the current
// line; the agent list is read from its file and calls "*33" + the extension on line 2.

#include "CallsWindow.h"

#include "integrations/DdeBus.h"
#include "integrations/MonitorRules.h"
#include "integrations/Monitoring.h"

#include <QAction>
#include <QElapsedTimer>

using namespace corvid;
using namespace corvid::test;

namespace {

struct MonitorWindow : CallsWindow {
    MonitorWindow() { goOnline(2); }
    // The call operations in order: "EndCall(0)", "PlaceCall(1,*33204)".
    QStringList callOps() const {
        QStringList ops;
        for (const FakeEngine::Call& c : engine.calls())
            if (c.name == QLatin1String("EndCall") || c.name == QLatin1String("PlaceCall")) {
                QStringList args{c.args.value(0).toString()};
                if (c.args.size() > 1) args << c.args.at(1).toString();
                ops << c.name + QLatin1Char('(') + args.join(QLatin1Char(',')) + QLatin1Char(')');
            }
        return ops;
    }
};

} // namespace

class TestMonitoring : public QObject {
    Q_OBJECT
private slots:
    // (DDEListen's code and the box's text reach the PBX end to end.)
    void monitor_data() {
        QTest::addColumn<QString>("way"); // MonList or DDECorvid
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("coach");
        QTest::addColumn<QString>("dialled"); // empty: nothing dialled
        QTest::newRow("list, 13 digits, coach") << "MonList"
                                                << " 5551234567890 " << true << "1985551234567";
        QTest::newRow("list, empty entry") << "MonList"
                                           << "" << false << "";
        QTest::newRow("DDECorvid") << "DDECorvid"
                                   << "205" << false << "198205";
    }
    void monitor() {
        QFETCH(QString, way);
        QFETCH(QString, text);
        QFETCH(bool, coach);
        QFETCH(QString, dialled);
        MonitorWindow w;
        w.ui.ComboDial->setCurrentIndex(1);
        w.ui.CorvidCheck->setChecked(coach);
        QElapsedTimer clock;
        clock.start();
        if (way == QLatin1String("MonList")) {
            w.ui.MonList->addItem(text);
            QListWidgetItem* item = w.ui.MonList->item(w.ui.MonList->count() - 1);
            w.ui.MonList->setCurrentItem(item);
            emit w.ui.MonList->itemDoubleClicked(item);
        } else {
            w.ui.corvidDDEtxt->setText(text);
            QTest::mouseClick(w.fixture.find<QPushButton>(way), Qt::LeftButton);
        }
        QVERIFY(clock.elapsed() >= Monitoring::MonitorWaitMs - 20);
        QStringList ops{QStringLiteral("EndCall(1)")};
        if (!dialled.isEmpty()) ops << QStringLiteral("PlaceCall(1,%1)").arg(dialled);
        QCOMPARE(w.callOps(), ops);
        QCOMPARE(w.ctx.state.MonitorTarget, text.trimmed().left(10));
        QVERIFY(w.ui.DDEListen->isEnabled() && w.ui.DDECorvid->isEnabled());
    }

    // A press of another program never ends the agent's call with a customer, also one the agent
    // places while the press waits out its half second: the press is refused as busy.
    void aProgramsPressSparesACallPlacedMeanwhile() {
        MonitorWindow w;
        w.ui.corvidDDEtxt->setText(QStringLiteral("205"));
        QTimer::singleShot(Monitoring::MonitorWaitMs / 2, &w.window, [&w] { w.dial(QStringLiteral("5551234567")); });
        QCOMPARE(w.ctx.subsystems.monitoring->runDdeMonitoring(ListenCode, false, true), CallUpRefusal);
        QCOMPARE(w.callOps().filter(QStringLiteral("PlaceCall")),
                 QStringList{QStringLiteral("PlaceCall(0,5551234567)")});
        QCOMPARE(w.callOps().last(), QStringLiteral("PlaceCall(0,5551234567)")); // and nothing ended it
        QVERIFY(w.engine.line(0).busy);
    }

    // Up to 49 fields of the file; "204_Smith, Jr" calls "*33204" on line 2; "Edit Agent List" opens
    // the file.
    void agentList() {
        MonitorWindow w;
        QByteArray file = "201_Ann,202_Bob\r\n\"204_Smith, Jr\"\r\nNobody\r\n";
        for (int n = 0; n < 60; ++n)
            file += QByteArray::number(300 + n) + "_x\r\n";
        w.fixture.writeFile(QStringLiteral("bin/agentlist.txt"), file);
        w.ui.agentList->addItem(QStringLiteral("stale"));
        w.ui.ralCmd->trigger();
        QCOMPARE(w.ui.agentList->count(), 49);

        emit w.ui.agentList->itemClicked(w.ui.agentList->item(2));
        QCOMPARE(w.callOps(), (QStringList{"PlaceCall(1,*33204)"})); // no call up: nothing to hang up

        w.ui.ealCmd->trigger();
        QCOMPARE(w.fakes.desktop.editedFiles, QStringList{w.ctx.root.binFile(QStringLiteral("agentlist.txt"))});
    }
};

QTEST_MAIN(TestMonitoring)
#include "tst_monitoring.moc"
