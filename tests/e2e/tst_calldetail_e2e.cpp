// The call-detail record and the recording pause of the real window on the real engine against the
// loopback test bed: a call whose far end loses a fifth of the packets it echoes shows that loss in
// its record (and a poor-audio line), a clean call shows none; a recording paused by "#pauserec"
// holds nothing of what was sent while it was paused.

#include "support/BedWindow.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using namespace corvid;
using namespace corvid::test;

namespace {

constexpr int kEventMs = 10000;
constexpr int kLossPercent = 20;
// The measured loss is the loss stage's share within this many points.
constexpr double kLossTolerance = 3.0;

} // namespace

class TestCallDetailE2e : public QObject {
    Q_OBJECT

    BedRun m_clean;
    BedRun m_lossy;

    static QList<QJsonObject> records(const BedWindow& w) {
        QList<QJsonObject> list;
        const QByteArray text = w.fixture.readFile(QStringLiteral("logs/Demo Agent_calls.jsonl"));
        for (const QByteArray& line : text.split('\n'))
            if (!line.isEmpty()) list << QJsonDocument::fromJson(line).object();
        return list;
    }
    static QString journal(const BedWindow& w) {
        return QString::fromUtf8(w.fixture.readFile(QStringLiteral("logs/automation.log")));
    }
    static void waitSeconds(const BedWindow& w, int more) {
        const int until = w.ui().callsec->text().toInt() + more;
        QVERIFY(QTest::qWaitFor([&] { return w.ui().callsec->text().toInt() >= until; }, more * 1000 + kEventMs));
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_clean.start());
        SipTestBed::Options lossy;
        lossy.answerLossPercent = kLossPercent;
        QVERIFY(m_lossy.start(lossy));
    }
    void cleanupTestCase() { QVERIFY(m_clean.stop() && m_lossy.stop()); }

    void recordShowsTheCallsLoss_data() {
        QTest::addColumn<bool>("lossy");
        QTest::newRow("clean far end") << false;
        QTest::newRow("a fifth of the echo lost") << true;
    }
    void recordShowsTheCallsLoss() {
        QFETCH(bool, lossy);
        auto w = (lossy ? m_lossy : m_clean).window();
        QVERIFY(w);
        w->dial(BedNumber::Answer);
        QVERIFY(w->connected());
        waitSeconds(*w, 6); // past the first RTCP report, which carries the jitter
        QTest::mouseClick(w->ui().BtnHangUp, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(records(*w).size(), 1, kEventMs);

        const QJsonObject r = records(*w).first();
        const QString raw = QJsonDocument(r).toJson(QJsonDocument::Compact);
        const QRegularExpression stamp(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
        QVERIFY2(r.value("line").toInt() == 1 && r.value("number") == BedNumber::Answer &&
                     r.value("result") == "hang up" && r.value("ended_by") == "agent" &&
                     stamp.match(r.value("start").toString()).hasMatch() &&
                     stamp.match(r.value("end").toString()).hasMatch() && r.value("seconds").toInt() >= 4,
                 qPrintable(raw));
        QVERIFY2(r.value("invite_status").toInt() == 200 && r.value("end_status").toInt() == 200 &&
                     r.value("call_id").toString().size() > 4 && r.value("transport") == "udp" &&
                     r.value("media_encryption") == "none" && r.value("codec") == "PCMU/8000" &&
                     r.value("local_rtp").toString().startsWith("127.0.0.1:") &&
                     r.value("remote_rtp").toString().startsWith("127.0.0.1:"),
                 qPrintable(raw));
        // Six seconds at 50 packets a second each way.
        QVERIFY2(r.value("packets_sent").toInt() > 150 && r.value("packets_received").toInt() > 100, qPrintable(raw));
        const double loss = r.value("loss_percent").toDouble(-1);
        const double expected = lossy ? kLossPercent : 0;
        QVERIFY2(loss >= 0 && qAbs(loss - expected) <= kLossTolerance, qPrintable(raw));
        QVERIFY2(r.value("jitter_ms").isDouble(), qPrintable(raw));
        const bool poorLine = std::any_of(w->logLines.cbegin(), w->logLines.cend(), [](const QString& line) {
            return line.startsWith(QStringLiteral("Line- 1: poor audio (")) &&
                   line.endsWith(QStringLiteral(" % lost)"));
        });
        QCOMPARE(poorLine, lossy);
        // The CSV row is there and unchanged in its form.
        QVERIFY(w->hasRow(0, BedNumber::Answer, QStringLiteral("hang up")));
    }

    // The phone sends 600 Hz; while the recording is paused it plays 1000 Hz into the call, which the
    // far end echoes. The saved recording holds the 600 Hz and none of the 1000 Hz, and is shorter
    // than the call by the paused stretch.
    void pausedStretchIsNotRecorded() {
        auto w = std::make_unique<BedWindow>();
        w->start(*m_clean.bed, {Account1001,
                                QStringLiteral("Demo Agent"),
                                m_clean.tone(600),
                                {{QStringLiteral("recordAll"), QStringLiteral("True")}}});
        QVERIFY(w->waitRegistered());
        Ui::MainForm& ui = w->ui();
        ui.autoCheck->setChecked(true);

        // No call: refused, with the reason.
        w->fixture.fakes.clipboard.put(QStringLiteral("#pauserec"));
        QTRY_VERIFY_WITH_TIMEOUT(journal(*w).contains("\tclipboard\t#pauserec\trefused: no call is up on Line- 1\r\n"),
                                 kEventMs);

        w->dial(BedNumber::Answer);
        QVERIFY(w->connected());
        waitSeconds(*w, 2);
        w->fixture.fakes.clipboard.put(QStringLiteral("#pauserec"));
        QTRY_VERIFY_WITH_TIMEOUT(!ui.LabelRecordingPaused->isHidden(), kEventMs);
        QVERIFY(journal(*w).contains("\tclipboard\t#pauserec\trecording paused (Line- 1)\r\n"));

        QVERIFY(w->engine->PlayWaveOpen(0, m_clean.tone(1000, 3000)));
        QVERIFY(w->engine->PlayWaveStart(0, false));
        waitSeconds(*w, 3);
        w->engine->PlayWaveStop(0);
        waitSeconds(*w, 1); // the echo of the last of it has come back

        w->fixture.fakes.clipboard.put(QStringLiteral("#resumerec"));
        QTRY_VERIFY_WITH_TIMEOUT(ui.LabelRecordingPaused->isHidden(), kEventMs);
        QVERIFY(journal(*w).contains("\tclipboard\t#resumerec\trecording resumed (Line- 1)\r\n"));
        waitSeconds(*w, 2);
        QTest::mouseClick(ui.BtnHangUp, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(records(*w).size(), 1, kEventMs);

        const QStringList waves = w->recordings();
        QCOMPARE(waves.size(), 1);
        const double tone = toneLevel(waves.first(), 600), paused = toneLevel(waves.first(), 1000);
        QVERIFY2(tone > 0.02 && paused < tone / 50,
                 qPrintable(QStringLiteral("600 Hz %1, 1000 Hz %2").arg(tone).arg(paused)));
        const int callMs = w->rowSeconds() * 1000, waveMs = waveDurationMs(waves.first());
        QVERIFY2(waveMs > 2500 && waveMs < callMs - 3000,
                 qPrintable(QStringLiteral("%1 of %2").arg(waveMs).arg(callMs)));

        const QJsonObject r = records(*w).first();
        const QJsonArray stretches = r.value("paused").toArray();
        QVERIFY2(stretches.size() == 1 && stretches[0].toObject().value("to").isString() &&
                     r.value("recording").toString() == waves.first(),
                 QJsonDocument(r).toJson(QJsonDocument::Compact).constData());

        // The next call is recorded again; paused when it ends, it keeps what came before the pause.
        w->logLines.clear();
        w->dial(BedNumber::Answer);
        QVERIFY(w->connected());
        waitSeconds(*w, 2);
        w->fixture.fakes.clipboard.put(QStringLiteral("#pauserec"));
        QTRY_VERIFY_WITH_TIMEOUT(!ui.LabelRecordingPaused->isHidden(), kEventMs);
        waitSeconds(*w, 2);
        QTest::mouseClick(ui.BtnHangUp, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w->recordings().size(), 2, kEventMs);
        const QString before = w->recordings().at(waves.first() == w->recordings().at(0) ? 1 : 0);
        QVERIFY2(waveDurationMs(before) > 1500 && waveDurationMs(before) < w->rowSeconds(1) * 1000 - 1500,
                 qPrintable(QString::number(waveDurationMs(before))));
        QVERIFY(ui.LabelRecordingPaused->isHidden());
    }
};

QTEST_MAIN(TestCallDetailE2e)
#include "tst_calldetail_e2e.moc"
