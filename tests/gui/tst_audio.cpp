// The audio controls against a FakeEngine: device lists, sliders, mutes, level bars, processing
// options, codec boxes, forced in-band DTMF and the ring-tone boxes.

#include "support/BareWindow.h"

#include "phone/AudioControls.h"

#include <QtTest>

using namespace corvid;
using corvid::test::BareWindow;

namespace {
struct Audio {
    BareWindow w;
    AudioControls audio{w.ctx};
    Audio() { w.ctx.subsystems.audio = &audio; }
    QStringList items(QListWidget* list) const {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
};
// Counts level reads; everything else is the fake's.
class CountingEngine : public FakeEngine {
public:
    int MicLevel() override {
        ++micReads;
        return FakeEngine::MicLevel();
    }
    int SpeakerLevel() override {
        ++speakerReads;
        return FakeEngine::SpeakerLevel();
    }
    int micReads = 0;
    int speakerReads = 0;
};
} // namespace

class TestAudio : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void deviceLists() {
        Audio a;
        a.w.engine.setDevices({QStringLiteral("Mic 1"), QStringLiteral("Mic 2"), QStringLiteral("Headset Mic")},
                              {QStringLiteral("Speaker")});
        a.w.ui.ListAudioIn->addItem(QStringLiteral("stale"));
        a.audio.FillInputDevices();
        a.audio.FillOutputDevices();
        QCOMPARE(a.items(a.w.ui.ListAudioIn), (QStringList{"Default Device", "Mic 1", "Mic 2", "Headset Mic"}));
        QCOMPARE(a.w.ui.ListAudioIn->currentRow(), 0);
        QCOMPARE(a.items(a.w.ui.ListAudioOut), (QStringList{"Default Device", "Speaker"}));
        QCOMPARE(a.w.ui.ListAudioOut->currentRow(), 0);
        QCOMPARE(a.w.engine.callsTo(QStringLiteral("InputDeviceName")).size(), 3);

        a.w.engine.setDevices({}, {});
        a.audio.FillInputDevices();
        QCOMPARE(a.items(a.w.ui.ListAudioIn), QStringList{"Default Device"});
    }

    void sliders() {
        Audio a;
        a.w.ui.SliderSpkVol->setValue(10);
        a.w.ui.SliderMicVol->setValue(1);
        QCOMPARE(a.w.engine.callNames(), (QStringList{"SetSpeakerVolume", "SetMicVolume"}));
        QCOMPARE(a.w.engine.last(QStringLiteral("SetSpeakerVolume")), QVariantList{250});
        QCOMPARE(a.w.engine.last(QStringLiteral("SetMicVolume")), QVariantList{25});
        QCOMPARE(a.w.fakes.messages.texts(), QStringList());
        // A refused volume shows the engine's error.
        a.w.engine.failNext(QStringLiteral("SetSpeakerVolume"), EngineError::SpeakerVolumeUnsupported);
        a.w.ui.SliderSpkVol->setValue(4);
        a.w.engine.failNext(QStringLiteral("SetMicVolume"), EngineError::MicVolumeUnsupported);
        a.w.ui.SliderMicVol->setValue(4);
        QCOMPARE(a.w.fakes.messages.texts(), (QStringList{"Your sound device does not support speaker volume.",
                                                          "Your sound device does not support mic volume."}));
    }

    void muteBoxes() {
        Audio a;
        a.w.ui.CheckSpkMute->setChecked(true);
        QVERIFY(a.w.engine.speakerMuted());
        a.w.ui.CheckMuteMic->setChecked(true);
        QVERIFY(a.w.engine.micMuted());
        a.w.ui.CheckMuteMic->setChecked(true); // no change, no call
        QCOMPARE(a.w.engine.count(QStringLiteral("SetMicMute")), 1);
        a.w.ui.CheckSpkMute->setChecked(false);
        a.w.ui.CheckMuteMic->setChecked(false);
        QVERIFY(!a.w.engine.speakerMuted());
        QVERIFY(!a.w.engine.micMuted());
        // Results are not read: a refusal shows nothing.
        a.w.engine.failNext(QStringLiteral("SetMicMute"), EngineError::InputNotOpen);
        a.w.ui.CheckMuteMic->setChecked(true);
        QCOMPARE(a.w.fakes.messages.texts(), QStringList());
    }

    void levelBarsFollowTheEngineWithinTheirRange_data() {
        QTest::addColumn<int>("speaker");
        QTest::addColumn<int>("mic");
        QTest::addColumn<int>("speakerBar");
        QTest::addColumn<int>("micBar");
        // The engine's 0..32767 shown as the bar's 0..100.
        QTest::newRow("half and a tenth") << 16384 << 3277 << 50 << 10;
        QTest::newRow("smallest steps") << 163 << 164 << 0 << 1;
        QTest::newRow("outside the scale") << 40000 << -120 << 100 << 0;
    }

    void levelBarsFollowTheEngineWithinTheirRange() {
        QFETCH(int, speaker);
        QFETCH(int, mic);
        QFETCH(int, speakerBar);
        QFETCH(int, micBar);
        Audio a;
        a.w.ui.SpkProgress->setValue(55);
        a.w.ui.MicProgress->setValue(55);
        a.w.engine.setLevels(mic, speaker);
        a.audio.onTimerProgressBarTick();
        QCOMPARE(a.w.ui.SpkProgress->value(), speakerBar);
        QCOMPARE(a.w.ui.MicProgress->value(), micBar);
    }

    void levelTimerReadsTwoLevelsPerTick() {
        BareWindow w;
        CountingEngine engine;
        w.ctx.engine = &engine;
        AudioControls audio(w.ctx);
        engine.setLevels(3277, 9830);
        w.ctx.timers.TimerProgressBar->start();
        QTRY_VERIFY(engine.speakerReads >= 3);
        w.ctx.timers.TimerProgressBar->stop();
        QCOMPARE(engine.micReads, engine.speakerReads);
        QCOMPARE(w.ui.SpkProgress->value(), 30);
        QCOMPARE(w.ui.MicProgress->value(), 10);
        QCOMPARE(engine.calls().size(), 0); // nothing else is asked for
    }

    void processingOptions() {
        Audio a;
        Ui::MainForm& ui = a.w.ui;
        ui.CheckAGC->setChecked(true);
        QCOMPARE(a.w.engine.last(QStringLiteral("AgcOn")), QVariantList{8000});
        ui.CheckAGC->setChecked(false);
        QCOMPARE(a.w.engine.count(QStringLiteral("AgcOff")), 1);
        a.w.engine.failNext(QStringLiteral("AgcOn"), EngineError::InputNotOpen);
        ui.CheckAGC->setChecked(true);
        QCOMPARE(a.w.fakes.messages.texts(), QStringList{QStringLiteral("Input/Mic device is not open.")});

        ui.CheckMicBoost->setChecked(true);
        ui.CheckMicBoost->setChecked(false);
        ui.CheckEchoCancel->setChecked(true);
        ui.CheckEchoCancel->setChecked(false);
        QStringList names = a.w.engine.callNames();
        names = names.mid(names.indexOf(QStringLiteral("MicBoostOn")));
        QCOMPARE(names, (QStringList{"MicBoostOn", "MicBoostOff", "EchoCancelOn", "EchoCancelOff"}));
    }

    void codecBoxes() {
        Audio a;
        a.w.ui.CheckGSM610->setChecked(false);
        a.w.engine.clearCalls();
        a.w.ui.CheckGSM610->click();
        a.w.ui.CheckGSM610->click();
        QCOMPARE(a.w.engine.callNames(), (QStringList{"EnableCodec", "DisableCodec"}));
        QCOMPARE(a.w.engine.last(QStringLiteral("EnableCodec")), QVariantList{0});
        QCOMPARE(a.w.engine.last(QStringLiteral("DisableCodec")), QVariantList{0});
    }

    void inbandDtmfReachesEveryOpenLine() {
        Audio a;
        a.w.ui.CheckForceInbandDTMF->setChecked(true); // before going online: no line to reach
        a.w.ui.CheckForceInbandDTMF->setChecked(false);
        QCOMPARE(a.w.engine.callNames(), QStringList());
        a.w.ctx.state.LineCount = 2;
        a.w.ui.CheckForceInbandDTMF->setChecked(true);
        a.w.ui.CheckForceInbandDTMF->setChecked(false);
        QCOMPARE(a.w.engine.callNames(),
                 (QStringList{"ForceInbandDtmfOn", "ForceInbandDtmfOn", "ForceInbandDtmfOff", "ForceInbandDtmfOff"}));
        QCOMPARE(a.w.engine.callsTo(QStringLiteral("ForceInbandDtmfOn")).at(0).args, QVariantList{0});
        QCOMPARE(a.w.engine.callsTo(QStringLiteral("ForceInbandDtmfOn")).at(1).args, QVariantList{1});
    }

    void clearingPlayRingToneWhilePlayingStops() {
        Audio a;
        FakeRingSound& ring = a.w.fakes.ring;
        a.w.ui.CheckPlayDialTone->setChecked(true);
        QVERIFY(a.w.ctx.state.RingToneOn);
        QCOMPARE(ring.stops, 0);
        ring.startLoop(QStringLiteral("ring.wav")); // a 180 response started the tone
        a.w.ui.CheckPlayDialTone->setChecked(false);
        QVERIFY(!ring.isPlaying());
        QCOMPARE(ring.stops, 1);
        QVERIFY(!a.w.ctx.state.RingToneOn);
        // Ticking it again does not start the tone; only the next 180 does.
        a.w.ui.CheckPlayDialTone->setChecked(true);
        QVERIFY(!ring.isPlaying());
        QCOMPARE(ring.starts.size(), 1);
        QVERIFY(a.w.ctx.state.RingToneOn);
    }

    void clearingPlayringtoneSilencesOnly() {
        Audio a;
        FakeRingSound& ring = a.w.fakes.ring;
        a.w.ctx.state.RingToneOn = true;
        a.w.ui.CheckPlayRingTone->setChecked(true);
        ring.startLoop(QStringLiteral("ring.wav"));
        QCOMPARE(ring.stops, 0);
        a.w.ui.CheckPlayRingTone->setChecked(false);
        QVERIFY(!ring.isPlaying());
        QVERIFY(a.w.ctx.state.RingToneOn); // the next 180 rings again
    }
};

QTEST_MAIN(TestAudio)
#include "tst_audio.moc"
