// The scripting of the fake engine that the window tests rely on.

#include "support/FakeEngine.h"
#include "testbed/EngineEventLog.h"

#include <QTest>

Q_DECLARE_METATYPE(corvid::FakeEngine::NumberScript)

using namespace corvid;

namespace {
bool goOnline(FakeEngine& engine, int lines = 2) {
    QString addr;
    if (!engine.EngineStart(false, addr, 5782, "1001", "1001", "pw", "Agent", "pbx", "pbx", "", false, lines))
        return false;
    for (int n = 0; n < lines; ++n)
        if (!engine.OpenLine(n, false, addr, 7000 + 2 * n)) return false;
    return true;
}
} // namespace

class TestFakeEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scriptedNumbers_data() {
        QTest::addColumn<FakeEngine::NumberScript>("script");
        QTest::addColumn<QStringList>("expected");
        const QStringList start{"CallConnecting(0)", "ProvisionalResponse(0, 180, Ringing)"};
        QTest::newRow("answer") << FakeEngine::answer(10)
                                << start + QStringList{"CallConnected(0, sip:555@fake.invalid, 3)"};
        QTest::newRow("busy") << FakeEngine::busy()
                              << start + QStringList{"RequestFailureResponse(0, 486, Busy Here)", "CallFailed(0)"};
        QTest::newRow("6xx") << FakeEngine::finalResponse(603, "Decline")
                             << start + QStringList{"GlobalFailureResponse(0, 603, Decline)", "CallFailed(0)"};
        QTest::newRow("far-end hang-up") << FakeEngine::hangUpAfter(30)
                                         << start + QStringList{"CallConnected(0, sip:555@fake.invalid, 3)",
                                                                "CallHungUp(0)"};
    }
    void scriptedNumbers() {
        QFETCH(FakeEngine::NumberScript, script);
        QFETCH(QStringList, expected);
        FakeEngine engine;
        EngineEventLog log(&engine);
        QVERIFY(goOnline(engine));
        engine.scriptNumber("555", script);
        QString number = "555";
        QVERIFY(engine.PlaceCall(0, number, -1, -1));
        QVERIFY(log.texts().isEmpty()); // never inside the operation
        QVERIFY(engine.line(0).busy);
        QTRY_COMPARE(log.texts(), expected);
        QTest::qWait(50); // nothing more follows
        QCOMPARE(log.texts(), expected);
        QCOMPARE(engine.line(0).busy, expected.last().startsWith("CallConnected"));
    }

    void noAnswerRingsUntilEnded() {
        FakeEngine engine;
        EngineEventLog log(&engine);
        QVERIFY(goOnline(engine));
        engine.setDefaultScript(FakeEngine::noAnswer());
        engine.scriptNumber("9", FakeEngine::answer(40));
        QString number = "9";
        QVERIFY(engine.PlaceCall(0, number, -1, -1));
        QVERIFY(engine.EndCall(0)); // before the scripted answer
        QTest::qWait(80);
        QCOMPARE(log.names(), (QStringList{"CallConnecting"})); // the answer lapsed with the call; no CallHungUp
        QVERIFY(!engine.line(0).busy);
        QString other = "8";
        QVERIFY(engine.PlaceCall(0, other, -1, -1));
        QTest::qWait(30);
        QCOMPARE(log.names().mid(1), (QStringList{"CallConnecting", "ProvisionalResponse"}));
    }

    void scriptedFailuresAndRecords() {
        FakeEngine engine;
        engine.failNext("OpenLine", EngineError::PortInUse, 2);
        engine.setSipPortsInUse({5782});
        QString addr;
        QVERIFY(!engine.EngineStart(false, addr, 5782, "u", "a", "p", "d", "dom", "px", "", true, 2));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::PortInUse));
        QVERIFY(engine.EngineStart(false, addr, 5783, "u", "a", "p", "d", "dom", "px", "", true, 2));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::None));
        QVERIFY(!engine.OpenLine(0, false, addr, 7000));
        QVERIFY(!engine.OpenLine(0, false, addr, 7002));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::PortInUse));
        QVERIFY(engine.OpenLine(0, false, addr, 7004));
        QVERIFY(!engine.OpenLine(2, false, addr, 7006));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::InvalidLine));

        // The line table answers like the real one.
        QString n = "1";
        QVERIFY(!engine.PlaceCall(1, n, -1, -1));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::LineNotOpen));
        QVERIFY(engine.PlaceCall(0, n, -1, -1));
        QVERIFY(!engine.PlaceCall(0, n, -1, -1));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::LineBusy));
        engine.failAlways("EndCall", EngineError::DisconnectRequest);
        QVERIFY(!engine.EndCall(0));
        QVERIFY(!engine.EndCall(0));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::DisconnectRequest));
        engine.clearFailures();
        QVERIFY(engine.EndCall(0));
        QVERIFY(!engine.SetMicVolume(256));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::InvalidValue));
    }

    void eventsOnDemandKeepTheLineTable() {
        FakeEngine engine;
        EngineEventLog log(&engine);
        QVERIFY(goOnline(engine));
        engine.fireCallConnected(1, "sip:x@y");
        QVERIFY(!engine.line(1).busy);
        QTRY_VERIFY(engine.line(1).busy);
        QVERIFY(engine.HoldCall(1));
        QVERIFY(engine.IsLineOnHold(1));
        engine.fireCallHungUp(1);
        QTRY_VERIFY(!engine.line(1).busy);
        QVERIFY(!engine.IsLineOnHold(1));
        QCOMPARE(log.texts(), (QStringList{"CallConnected(1, sip:x@y, 3)", "CallHungUp(1)"}));

        engine.DndOn();
        QVERIFY(!engine.fireIncomingCall("c1", 0, "200", "Bob", "1001"));
        engine.DndOff();
        QVERIFY(engine.ForwardCalls(true, "300"));
        QVERIFY(!engine.fireIncomingCall("c2", 0, "201", "Ann", "1001"));
        QCOMPARE(engine.turnedAway(), (QStringList{"486 200", "302 201 -> 300"}));
        QVERIFY(engine.ForwardCalls(false, QString()));
        QVERIFY(engine.fireIncomingCall("c3", 0, "202", "Cy", "1001"));
        QTRY_VERIFY(log.has("IncomingCall(c3, 0, 202, Cy, 1001)"));
        QVERIFY(!engine.AnswerCall(0, "nope", -1, -1));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::InvalidCallId));
        QVERIFY(engine.AnswerCall(0, "c3", -1, -1));
        QTRY_VERIFY(engine.line(0).connected);
        QCOMPARE(log.offThreadCount(), 0);
    }

    void waveEndsAfterItsDuration() {
        FakeEngine engine;
        EngineEventLog log(&engine);
        QVERIFY(goOnline(engine));
        engine.fireCallConnected(0);
        QTRY_VERIFY(engine.line(0).connected);
        QVERIFY(!engine.PlayWaveOpen(0, "/nonexistent/x.wav"));
        QCOMPARE(engine.LastErrorCode(), int(EngineError::WaveOpen));
        QVERIFY(engine.PlayWaveOpen(0, QStringLiteral(CORVID_SOURCE_DIR "/assets/ring.wav")));
        engine.setWaveDurationMs(40);
        QVERIFY(engine.PlayWaveStart(0, false));
        QVERIFY(engine.IsLinePlayingWave(0));
        QTRY_VERIFY(log.has("PlayWaveDone(0)"));
        QVERIFY(!engine.IsLinePlayingWave(0));
    }
};

QTEST_GUILESS_MAIN(TestFakeEngine)
#include "tst_fakeengine.moc"
