#pragma once
// The window the call-control tests drive: the real MainForm, offscreen on a temporary install
// root, with a FakeEngine and the fake desktop services. Header-only.

#include "support/FakeEngine.h"
#include "support/MainFormFixture.h"

#include "app/MainForm.h"
#include "calls/CallEnd.h"
#include "calls/Dialing.h"
#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "dialer/CallLog.h"
#include "media/Recording.h"
#include "ui_MainForm.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QtTest>

namespace corvid::test {

struct CallsWindow {
    FakeEngine engine; // outlives the window
    MainFormFixture fixture;
    FakeServices& fakes = fixture.fakes;
    MainForm& window = fixture.create(&engine);
    WindowContext& ctx = fixture.ctx();
    Ui::MainForm& ui = fixture.ui();
    LineStatus* lines = ctx.subsystems.lines;
    CallEnd* callEnd = ctx.subsystems.callEnd;
    CallLog* callLog = ctx.subsystems.callLog;
    Recording* recording = ctx.subsystems.recording;

    void setSetting(const QString& key, const QString& value) { fixture.setSetting(key, value); }
    QString setting(const QString& key) const { return fixture.setting(key); }
    QStringList statusLog() const { return fixture.statusLog(); }

    // What going online does for the lines: the engine started with every line open, the mute
    // flags sized and cleared, the device and line lists filled.
    void goOnline(int lineCount) {
        QString address = QStringLiteral("127.0.0.1");
        engine.EngineStart(false, address, 5782, QStringLiteral("1001"), QStringLiteral("1001"),
                           QStringLiteral("secret"), QString(), QStringLiteral("pbx"), QStringLiteral("pbx"), QString(),
                           false, lineCount);
        for (int n = 0; n < lineCount; ++n)
            engine.OpenLine(n, false, address, 7000 + 2 * n);
        ctx.state.LineCount = lineCount;
        ctx.state.SpeakerMuted = QVector<bool>(lineCount, false);
        ctx.state.MicMuted = QVector<bool>(lineCount, false);
        for (QListWidget* list : {ui.ListAudioIn, ui.ListAudioOut}) {
            list->clear();
            list->addItems({QStringLiteral("Default Device"), QStringLiteral("Device 0"), QStringLiteral("Device 1")});
            list->setCurrentRow(0);
        }
        lines->FillLineLists();
        ctx.state.Registered = true;
        engine.clearCalls();
    }

    // The agent types a number and presses "Call".
    void dial(const QString& number) {
        ui.EditPhoneNo->setText(number);
        QTest::mouseClick(ui.BtnDial, Qt::LeftButton);
    }

    // Online with two lines, the agent's display name "Agent7" set, and a call to number connected
    // on line (0: line 1).
    void connectCall(const QString& number, int line = 0) {
        goOnline(2);
        ui.EditAccountDisplayName->setText(QStringLiteral("Agent7"));
        ui.ComboDial->setCurrentIndex(line);
        dial(number);
        QTRY_VERIFY(engine.line(line).connected);
    }

    // Dial files, end files and clipboard commands are taken (online, click-to-dial on).
    void automate() {
        ctx.state.SipTapiMode = QStringLiteral("True");
        ui.BtnOnline->setText(QStringLiteral("Offline"));
        ui.swipeLengthTxT->setText(QStringLiteral("14"));
        ui.autoCheck->setChecked(true);
    }
    // Another program drops an (empty) file into the datalink folder.
    void drop(const QString& name) const {
        QFile file(QDir(ctx.root.datalink()).filePath(name));
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(name));
    }
    // The automation journal's lines without their time.
    QStringList journal() const {
        QStringList lines;
        for (const QByteArray& line : fileLines(ctx.subsystems.automation->journal().path()))
            lines << QString::fromUtf8(line.mid(line.indexOf('\t') + 1));
        return lines;
    }

    // The rows of an agent's CSV call log ("_calllogs.csv" for an empty display name).
    QByteArrayList callLogRows(const QString& displayName) const {
        return fileLines(ctx.root.logFile(displayName + QStringLiteral("_calllogs.csv")));
    }
    QByteArrayList agentRows() const { return callLogRows(QStringLiteral("Agent7")); } // connectCall's agent
    QByteArrayList placedCalls() const { return fileLines(ctx.root.logFile(QStringLiteral("callsout.txt"))); }

    // Whether a call-log row is of number and ends in result ("hang up" for the agent's, "" for the far end's).
    static bool rowIs(const QByteArray& row, const QString& number, const char* result) {
        const bool ok =
            row.startsWith("\"" + number.toUtf8() + "\",") && row.endsWith(QByteArray(",\"") + result + '"');
        if (!ok) qWarning("row: %s", row.constData());
        return ok;
    }

    static QByteArrayList fileLines(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return {};
        QByteArrayList lines = file.readAll().replace("\r\n", "\n").split('\n');
        if (lines.last().isEmpty()) lines.removeLast(); // split always gives at least one
        return lines;
    }
};

} // namespace corvid::test
