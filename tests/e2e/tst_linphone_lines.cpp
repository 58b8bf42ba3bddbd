// The real engine's line table against the loopback test bed: two lines and the library's one call
// in set-up at a time, the automatic hold of the first line and joining both; re-registration; wave
// playback with the adapter's own position, the recording buffer of one call across a pause, a hold
// and the call's end, and forced in-band DTMF per call; refusing and transferring calls; ringing
// calls and an outgoing one; and real sound devices on a null sound card or none.

#include "support/BedWindow.h"
#include "support/EnginePhone.h"

#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>

using namespace corvid;
using namespace corvid::test;
using Phone = EnginePhone;

namespace {

// The SDP of the last INVITE in a far end's message trace.
QString lastInviteBody(const QString& trace) {
    const qsizetype at = trace.lastIndexOf(QStringLiteral("\nINVITE sip:"));
    return at < 0 ? QString() : trace.mid(at).section(QStringLiteral("\r\n\r\n"), 1, 1);
}

} // namespace

class TestLinphoneLines : public QObject {
    Q_OBJECT

private:
    BedRun m_run;
    EnginePhones m_phones{m_run.bed, m_run.work};

    QString tone(int hz) { return hz == 1000 ? m_run.tone(hz, 2000) : m_run.tone(hz); } // 1000 Hz: 2 s
    QString saved(const char* name) const { return m_run.work.filePath(QString::fromLatin1(name)); }
    QString farEndMessages() const { return m_run.bed->farEndMessages(SipTestBed::FarEnd::Answer); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_run.start()); }
    void cleanup() { m_phones.stopAll(); }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    void oneCallInSetUpThenAutoHoldAndJoin() {
        Phone* p = m_phones.add();
        QVERIFY(p);
        QVERIFY(p->place(0, BedNumber::Answer));
        // The library sets up one call at a time: the second line is refused while the first rings.
        const QString second = QStringLiteral("9002");
        QVERIFY(!p->place(1, second));
        QCOMPARE(p->engine->LastErrorCode(), int(EngineError::ConnectRequest)); // and line 2 is left free:

        QVERIFY(p->connected(0, BedNumber::Answer));
        // The far end takes re-INVITEs once its INFO (the digit 5) has been answered.
        QVERIFY(p->waitFor(QStringLiteral("DtmfDigitReceived(0, 5)")));
        QVERIFY(p->place(1, second) && p->connected(1, second)); // a busy line would refuse this
        QVERIFY(p->waitFor(QStringLiteral("DtmfDigitReceived(1, 5)")));
        // Starting the second call put the first on hold by itself; the line table shows it.
        QTRY_VERIFY_WITH_TIMEOUT(p->engine->IsLineOnHold(0), kEventMs);

        QVERIFY(p->engine->JoinLines(0, 1));
        QTRY_VERIFY_WITH_TIMEOUT(!p->engine->IsLineOnHold(0), kEventMs);
        QVERIFY(p->engine->IsLineBusy(0) && p->engine->IsLineBusy(1));
        QTest::qWait(500);
        QVERIFY(!p->log->hasName("CallHungUp") && !p->log->hasName("CallFailed"));
    }

    void refreshIsReportedAsReregistration() {
        // The proxy's shortest expiry is 10 s; the library refreshes at about 90 % of it.
        Phone* p = m_phones.add({Account1001, QString(), false, 10});
        QVERIFY(p);
        QVERIFY(p->waitFor(QStringLiteral("ReregisterSucceeded()"), 15000));
        QCOMPARE(p->log->names(),
                 (QStringList{"RegisterTrying", "RegisterSucceeded", "ReregisterTrying", "ReregisterSucceeded"}));
    }

    void wavePlaybackRecordingAndInbandDtmfOnALine() {
        Phone* p = m_phones.add({Account1001, tone(500)});
        QVERIFY(p);
        p->engine->ForceInbandDtmfOn(0);
        QVERIFY(p->place(0, BedNumber::Answer));
        // Opening before the media run would crash the library's player: refused.
        QVERIFY(!p->engine->PlayWaveOpen(0, tone(1000)));
        QCOMPARE(p->engine->LastErrorCode(), int(EngineError::NotInVoiceSession));
        QVERIFY(p->connected(0, BedNumber::Answer));
        // Forced in-band DTMF: the offer has no telephone-event, and a digit is still taken.
        const QString inbandOffer = lastInviteBody(farEndMessages());
        QVERIFY2(inbandOffer.contains("m=audio") && !inbandOffer.contains("telephone-event"), qPrintable(inbandOffer));
        QVERIFY(p->engine->SendDtmfDigit(0, QStringLiteral("7")));

        QVERIFY(p->engine->PlayWaveOpen(0, tone(1000)));
        QVERIFY(p->engine->PlayWaveStart(0, false));
        QTest::qWait(500);
        QVERIFY(p->engine->PlayWavePause(0));
        const int paused = p->engine->PlayWaveGetPosition(0);
        QVERIFY2(paused >= 400 && paused <= 900, qPrintable(QString::number(paused)));
        QTest::qWait(300);
        QCOMPARE(p->engine->PlayWaveGetPosition(0), paused);

        QVERIFY(p->engine->PlayWavePosition(0, 1500));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(p->engine->PlayWaveStart(0, false));
        QVERIFY(p->waitFor(QStringLiteral("PlayWaveDone(0)"), 3000));
        QVERIFY2(timer.elapsed() >= 300 && timer.elapsed() < 1500, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(p->engine->PlayWaveGetPosition(0), 2000);
        QVERIFY(p->engine->PlayWaveStop(0));
        QCOMPARE(p->engine->PlayWaveGetPosition(0), 0); // stop rewinds

        // The level meter hears the far end's echo of our tone.
        QTRY_VERIFY_WITH_TIMEOUT(p->engine->SpeakerLevel() > 1000, 3000);

        // A refused open leaves nothing loaded: a start then says so and plays no earlier file.
        QVERIFY(!p->engine->PlayWaveOpen(0, QCoreApplication::applicationFilePath())); // not a wave
        QVERIFY(!p->engine->PlayWaveStart(0, false));
        QCOMPARE(p->engine->LastErrorCode(), int(EngineError::NoWaveLoaded));

        // The recording buffer keeps what was recorded across a pause.
        QVERIFY(p->engine->StartRecording(0, 2, true));
        QTest::qWait(1000);
        QVERIFY(p->engine->StopRecording(0));
        QTest::qWait(1000); // not recorded
        QVERIFY(p->engine->StartRecording(0, 2, true));
        QTest::qWait(1000);
        QVERIFY(p->engine->SaveRecording(0, saved("paused.wav")));
        const int ms = waveDurationMs(saved("paused.wav"));
        QVERIFY2(ms >= 1700 && ms <= 2600, qPrintable(QString::number(ms)));
        QVERIFY(p->engine->RecordingLineOp(0)); // saving does not stop a running recording

        // Emptied, the buffer records on; after the call has ended, what it holds can still be saved.
        p->engine->ResetRecording(0);
        QTest::qWait(500);
        QVERIFY(p->engine->EndCall(0));
        QTRY_VERIFY(!p->engine->IsLineBusy(0));
        QVERIFY(p->engine->SaveRecording(0, saved("after_end.wav")));
        QVERIFY(waveDurationMs(saved("after_end.wav")) >= 300 && waveDurationMs(saved("after_end.wav")) < 1200);
        QVERIFY(!p->engine->PlayWaveStart(0, false));

        // The line's next call: the buffer holds one call, so what the ended call left goes when it
        // starts; without the forced in-band DTMF the offer has telephone-event again.
        const QDir recordingDir(p->engine->options().dataDir + QStringLiteral("/recording"));
        QVERIFY(!recordingDir.entryList(QDir::Files).isEmpty());
        p->engine->ForceInbandDtmfOff(0);
        p->log->clear();
        QVERIFY(p->place(0, BedNumber::Answer));
        QVERIFY(recordingDir.entryList(QDir::Files).isEmpty());
        QVERIFY(!p->engine->SaveRecording(0, saved("next_call.wav")));
        QCOMPARE(p->engine->LastErrorCode(), int(EngineError::RecordingInit));
        QVERIFY(p->connected(0, BedNumber::Answer));
        QVERIFY2(lastInviteBody(farEndMessages()).contains("telephone-event"), qPrintable(farEndMessages()));
    }

    void refusedThenTransferredCalls() {
        Phone* a = m_phones.add({Account1001, QString()});
        Phone* b = m_phones.add({Account1002, QString()});
        QVERIFY(a && b);
        const QString number = Account1002.user;
        QVERIFY(a->place(0, number));
        QVERIFY(b->waitFor("IncomingCall"));
        // A waiting incoming call takes no line.
        QVERIFY(!b->engine->IsLineBusy(0));
        const QString callId = b->log->first("IncomingCall").value(0).toString();
        QVERIFY(b->engine->RefuseCall(callId));
        QVERIFY(a->waitFor(QStringLiteral("CallFailed(0)")));
        QCOMPARE(a->log->first("GlobalFailureResponse").value(1).toInt(), 603);
        // Refused once, the call is gone: neither refused nor answered again.
        QVERIFY(!b->engine->RefuseCall(callId));
        QVERIFY(!b->engine->AnswerCall(0, callId, -1, -1));
        QCOMPARE(b->engine->LastErrorCode(), int(EngineError::InvalidCallId));

        // A calls B again and B answers.
        a->log->clear();
        b->log->clear();
        QVERIFY(a->place(0, number));
        QVERIFY(b->answer() && a->connected(0, number) && b->waitFor("CallConnected"));

        // A transfer to a busy number fails: A hears of it, B's new call fails on its line, and the
        // call between A and B goes on.
        b->log->clear();
        QVERIFY(a->engine->TransferCall(0, BedNumber::Busy));
        QVERIFY(b->waitFor(QStringLiteral("CallFailed(0)")));
        // The failure names the number and the answer its call got, as B reported it.
        QVERIFY(a->waitFor(QStringLiteral("TransferFailed(0, 486, Busy Here, %1)").arg(BedNumber::Busy)));
        QTRY_VERIFY_WITH_TIMEOUT(!b->engine->IsLineOnHold(0) && b->engine->IsLineBusy(0), kEventMs);
        QVERIFY(a->engine->IsLineBusy(0));

        // Handed over to a number that answers: B's library follows the REFER, the new call is B's
        // line 0 call and the old one ends quietly on both sides.
        b->log->clear();
        QVERIFY(a->engine->TransferCall(0, BedNumber::Answer));
        QVERIFY(b->connected(0, BedNumber::Answer));
        QVERIFY(a->waitFor(QStringLiteral("TransferAccepted(0)")));
        QTRY_VERIFY_WITH_TIMEOUT(!a->engine->IsLineBusy(0), kEventMs);
        QVERIFY(!b->log->hasName("CallHungUp") && !a->log->hasName("CallHungUp"));
    }

    void soundCardDevices() {
        if (!NullSoundCard::available()) QSKIP("pulseaudio is not installed");
        NullSoundCard card;
        QVERIFY2(card.start(), qPrintable(card.errorString()));
        card.applyToEnvironment();
        Phone* p = m_phones.add({Account1001, {}, true});
        QVERIFY(p);
        // A sound card that cannot record leaves the engine in file mode; its play devices are listed.
        const bool canRecord = p->engine->InputDeviceCount() > 0;
        QCOMPARE(p->engine->usesSoundFiles(), !canRecord);
        QVERIFY(p->engine->OutputDeviceCount() >= 1);
        QString number = BedNumber::Answer;
        QVERIFY(p->engine->PlaceCall(0, number, canRecord ? 0 : -1, 0));
        QVERIFY(p->connected(0, number));
        // Listening to a wave plays it on the speaker as well, following pause, position and stop.
        QVERIFY(p->engine->PlayWaveOpen(0, tone(1000)));
        QVERIFY(p->engine->PlayWaveStart(0, true));
        QVERIFY(p->engine->PlayWavePause(0));
        QVERIFY(p->engine->PlayWavePosition(0, 1000));
        QVERIFY(p->engine->PlayWaveStart(0, true));
        QVERIFY(p->waitFor(QStringLiteral("PlayWaveDone(0)"), 3000));
        // Going offline in the middle of a call that plays, listens and records.
        QVERIFY(p->engine->PlayWaveOpen(0, tone(1000)));
        QVERIFY(p->engine->PlayWaveStart(0, true));
        QVERIFY(p->engine->StartRecording(0, 2, true));
        p->engine->EngineStop();
        QVERIFY(p->waitFor(QStringLiteral("UnregisterSucceeded()")));
        QVERIFY(!p->log->hasName("CallHungUp"));
        QVERIFY(!p->engine->IsLineBusy(0));
    }

    // Incoming calls nobody answers do not take the slots an outgoing call needs.
    void ringingCallsLeaveRoomForAnOutgoingCall() {
        Phone* dialer = m_phones.add();
        // Callers with addresses of their own (the library turns away a second call from the same
        // address); the proxy relays INVITEs without asking who sends them.
        Phone* first = m_phones.add({BedAccount{QStringLiteral("2001"), QStringLiteral("x")}, {}, false, 60, false});
        Phone* second = m_phones.add({BedAccount{QStringLiteral("2002"), QStringLiteral("x")}, {}, false, 60, false});
        QVERIFY(dialer && first && second);
        for (Phone* c : {first, second}) {
            QVERIFY(c->place(0, Account1001.user));
            QVERIFY(c->waitFor(QStringLiteral("ProvisionalResponse(0, 180, Ringing)")));
        }
        QTRY_COMPARE_WITH_TIMEOUT(dialer->log->names().count(QStringLiteral("IncomingCall")), 2, kEventMs);
        QVERIFY2(dialer->callAnswer(), qPrintable(QString::number(dialer->engine->LastErrorCode())));
        // The library cannot hold the call that rang last, so that one was answered busy; the
        // other still rings and can be taken on the second line.
        QTRY_VERIFY_WITH_TIMEOUT(first->log->hasName("CallFailed") != second->log->hasName("CallFailed"), kEventMs);
        Phone* declined = first->log->hasName("CallFailed") ? first : second;
        QCOMPARE(declined->log->first("RequestFailureResponse").value(1).toInt(), 486);
        Phone* ringing = declined == first ? second : first;
        bool answered = false;
        for (const QString& text : dialer->log->texts().filter(QStringLiteral("IncomingCall(")))
            answered = answered || dialer->engine->AnswerCall(1, text.mid(13).section(QStringLiteral(", "), 0, 0), -1, -1);
        QVERIFY(answered);
        QVERIFY(ringing->waitFor("CallConnected"));
    }

    // Holds reach the far end. Saving or emptying the buffer while the call is on hold
    // does not end the recording: it goes on once the call is resumed.
    void recordingGoesOnAfterSaveOrResetOnHold() {
        Phone* p = m_phones.add({Account1001, tone(500)});
        QVERIFY(p && p->callAnswer());
        QVERIFY(p->waitFor(QStringLiteral("DtmfDigitReceived(0, 5)"))); // the far end's INFO is answered
        QVERIFY(p->engine->StartRecording(0, 2, true));
        QTest::qWait(500);
        // The far end's answers to holds.
        const auto holds = [this] { return farEndMessages().count("a=recvonly"); };
        for (const bool save : {true, false}) {
            const qsizetype holdsBefore = holds();
            QVERIFY(p->engine->HoldCall(0));
            // The far end's answer to the hold arrives before the resume is taken.
            QTRY_VERIFY_WITH_TIMEOUT(holds() > holdsBefore, kEventMs);
            QTRY_VERIFY_WITH_TIMEOUT(p->engine->IsLineOnHold(0), kEventMs);
            if (save)
                QVERIFY(p->engine->SaveRecording(0, saved("held.wav")));
            else
                p->engine->ResetRecording(0);
            const int before = save ? waveDurationMs(saved("held.wav")) : 0;
            QTest::qWait(100);
            QVERIFY(p->engine->ResumeCall(0));
            QTRY_VERIFY_WITH_TIMEOUT(!p->engine->IsLineOnHold(0), kEventMs);
            QVERIFY(p->engine->RecordingLineOp(0));
            QTest::qWait(1200);
            QVERIFY(p->engine->SaveRecording(0, saved("resumed.wav")));
            const int added = waveDurationMs(saved("resumed.wav")) - before;
            QVERIFY2(added >= 800, qPrintable(QString::number(added)));
        }
    }

    // Asked to use the sound card on a machine without a reachable sound server, the engine keeps
    // its media running on their own clock: the call carries audio both ways and the recording
    // has the call's length.
    void noSoundServerStillClocksTheMedia() {
        const QByteArray old = qgetenv("PULSE_SERVER");
        const bool had = qEnvironmentVariableIsSet("PULSE_SERVER");
        auto restore = qScopeGuard([&] { had ? qputenv("PULSE_SERVER", old) : qunsetenv("PULSE_SERVER"); });
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(m_run.work.filePath(QStringLiteral("no-sound-server"))));
        Phone* p = m_phones.add({Account1001, tone(500), true});
        QVERIFY(p);
        QVERIFY(p->callAnswer());
        QVERIFY(p->engine->StartRecording(0, 2, true));
        QTest::qWait(3000);
        QVERIFY(p->engine->SaveRecording(0, saved("no_sound.wav")));
        const int ms = waveDurationMs(saved("no_sound.wav"));
        QVERIFY2(ms >= 2500 && ms <= 3600, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestLinphoneLines)
#include "tst_linphone_lines.moc"
