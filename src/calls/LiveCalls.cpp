#include "calls/LiveCalls.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "calls/LineStatus.h"
#include "dialer/Automation.h"
#include "dialer/AutomationJournal.h"
#include "dialer/CallLog.h"
#include "dialer/LogRecords.h"
#include "engine/WaveFile.h"
#include "media/RecordingFileName.h"
#include "platform/PrivateFiles.h"
#include "window/WindowContext.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {

const QString kJournalChannel = QStringLiteral("recovery");

QDateTime nowOf(const WindowContext& ctx) {
    return ctx.services.clock ? ctx.services.clock->now() : QDateTime::currentDateTime();
}

} // namespace

LiveCalls::LiveCalls(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    m_tick.setObjectName(QStringLiteral("liveCallTick"));
    m_tick.setInterval(TickMs);
    m_tick.setTimerType(Qt::CoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, &LiveCalls::onTick);
}

QString LiveCalls::folder() const {
    return ctx.root.binFile(QStringLiteral("calls"));
}

// --- while calls are up -------------------------------------------------------------------------

void LiveCalls::callPlaced(int line, quint64 callId, const QString& number) {
    if (line < 0) return;
    // The line's last call ended without an end of the window's (a transfer) less than a tick ago.
    if (const auto old = m_live.find(line); old != m_live.end() && old->callId != callId) writeDetail(*old);
    Live live;
    live.callId = callId;
    live.record.line = line;
    live.record.number = number.isEmpty() ? ctx.ui->EditPhoneNo->text() : number;
    live.record.agent = ctx.ui->EditAccountDisplayName->text();
    live.record.placed = live.record.updated = nowOf(ctx);
    live.clock.start();
    save(live);
    m_live.insert(line, live);
    if (!m_tick.isActive()) m_tick.start();
}

void LiveCalls::callEnded(int line, quint64 callId) {
    const auto it = m_live.find(line);
    if (it == m_live.end() || it->callId != callId) return;
    writeDetail(*it);
    drop(line);
}

void LiveCalls::noteEndedBy(int line, const QString& who) {
    const auto it = m_live.find(line);
    if (it != m_live.end() && it->endedBy.isEmpty()) it->endedBy = who;
}

void LiveCalls::noteRow(int line, const QString& result, const QString& seconds) {
    const auto it = m_live.find(line);
    if (it == m_live.end()) return;
    it->hasRow = true;
    it->result = result;
    it->rowSeconds = seconds;
}

void LiveCalls::noteRecording(int line, const QString& path) {
    const auto it = m_live.find(line);
    if (it != m_live.end()) it->recording = path;
}

void LiveCalls::notePaused(int line, bool paused) {
    const auto it = m_live.find(line);
    if (it == m_live.end()) return;
    QList<PausedInterval>& stretches = it->record.paused;
    const bool open = !stretches.isEmpty() && !stretches.last().to.isValid();
    if (paused && !open)
        stretches.append({nowOf(ctx), {}});
    else if (!paused && open)
        stretches.last().to = nowOf(ctx);
    else
        return;
    save(*it);
}

QList<PausedInterval> LiveCalls::pausedIntervals(int line) const {
    const auto it = m_live.constFind(line);
    return it == m_live.cend() ? QList<PausedInterval>() : it->record.paused;
}

// The call's end is over: its call-detail record, with the engine's figures at its end.
void LiveCalls::writeDetail(Live& live) {
    CallLog* callLog = ctx.subsystems.callLog;
    if (!callLog) return;
    const LiveCallRecord& r = live.record;
    CallDetail d;
    d.line = r.line;
    d.number = r.number;
    d.agent = r.agent;
    d.start = r.placed;
    d.end = nowOf(ctx);
    bool secondsOk = false;
    d.seconds = live.rowSeconds.toLongLong(&secondsOk);
    if (!secondsOk) d.seconds = live.clock.elapsed() / 1000;
    d.hasRow = live.hasRow;
    d.result = live.result;
    const CallQuality now = ctx.engine ? ctx.engine->CallStats(r.line) : CallQuality{};
    d.quality = now.known ? now : r.quality;
    d.endedBy = !live.endedBy.isEmpty() ? live.endedBy
                : d.quality.known       ? (d.quality.endedByFarEnd ? endedby::FarEnd : endedby::Agent)
                                        : QString();
    d.recording = live.recording;
    d.paused = r.paused;
    for (PausedInterval& p : d.paused)
        if (!p.to.isValid()) p.to = d.end;
    callLog->writeCallDetail(d);
}

void LiveCalls::onTick() {
    const QDateTime now = nowOf(ctx);
    LineStatus* lines = ctx.subsystems.lines;
    for (int line : m_live.keys()) {
        Live& live = m_live[line];
        // A call that ended without a call end of the window's (a failure no reaction hangs up,
        // the engine stopped) has no row to keep.
        const bool ending = lines && lines->lineCall(line).id == live.callId && lines->lineCall(line).ending;
        if (!ending && !(ctx.engine && ctx.engine->IsLineBusy(line))) {
            // It still gets its call-detail record, whoever ended it.
            writeDetail(live);
            drop(line);
            continue;
        }
        live.record.updated = now;
        live.record.seconds = live.clock.elapsed() / 1000;
        if (ctx.engine) {
            live.record.parts = ctx.engine->RecordingFiles(line);
            if (const CallQuality quality = ctx.engine->CallStats(line); quality.known) live.record.quality = quality;
        }
        save(live);
    }
    if (m_live.isEmpty()) m_tick.stop();
}

void LiveCalls::save(Live& live) {
    const QByteArray text = liveCallText(live.record);
    if (text == live.written) return;
    makePrivatePath(folder());
    // Rewritten every tick, the record goes to the disk at once only when more than the call's
    // running time and figures changed, and otherwise every SyncEveryMs: a killed dialer loses
    // nothing of it, a power cut no more than the last seconds of the duration.
    LiveCallRecord still = live.record;
    still.updated = {};
    still.seconds = 0;
    still.quality = {};
    const QByteArray steady = liveCallText(still);
    const Sync sync = steady != live.steady || !live.synced.isValid() || live.synced.elapsed() >= SyncEveryMs
                          ? Sync::Now
                          : Sync::Later;
    // A record that could not be written keeps the last one; the next tick tries again.
    if (!replaceFile(folder() + QLatin1Char('/') + liveCallFileName(live.record.line), text, sync)) return;
    live.written = text;
    if (sync == Sync::Now) {
        live.steady = steady;
        live.synced.start();
    }
}

void LiveCalls::drop(int line) {
    m_live.remove(line);
    QFile::remove(folder() + QLatin1Char('/') + liveCallFileName(line));
}

// --- at start-up --------------------------------------------------------------------------------

int LiveCalls::recoverInterrupted() {
    const QDir dir(folder());
    if (!dir.exists()) return 0;
    // The call's audio parts move here: the folder is the agent's alone, also one an older version made.
    makePrivate(folder());
    int recovered = 0;
    for (const QString& name : dir.entryList({QStringLiteral("*.call")}, QDir::Files, QDir::Name)) {
        if (isLiveCallFileName(name) && recover(dir.filePath(name))) ++recovered;
    }
    return recovered;
}

// Each step is noted in the record before the next one, so a dialer stopped again while
// recovering neither writes the row twice nor loses the parts.
bool LiveCalls::recover(const QString& path) {
    AutomationJournal ownJournal(ctx.root.logFile(QStringLiteral("automation.log")));
    AutomationJournal& journal = ctx.subsystems.automation ? ctx.subsystems.automation->journal() : ownJournal;
    QFile file(path);
    const std::optional<LiveCallRecord> read =
        file.open(QIODevice::ReadOnly) ? parseLiveCall(file.readAll()) : std::nullopt;
    file.close();
    if (!read) {
        journal.append(nowOf(ctx), kJournalChannel, QFileInfo(path).fileName(),
                       QStringLiteral("not a call record: removed"));
        QFile::remove(path);
        return false;
    }
    LiveCallRecord r = *read;
    const QString lineText = QStringLiteral("Line-%1").arg(r.line + 1, 2);

    // The engine empties its recording folder when it goes online: the parts move beside the
    // record first (a part that cannot move is joined from where it is).
    QStringList parts;
    for (int i = 0; i < r.parts.size(); ++i) {
        const QFileInfo part(r.parts[i]);
        if (!part.exists()) continue;
        const QString kept = folder() + QStringLiteral("/line%1-%2.wav").arg(r.line + 1).arg(i + 1);
        if (part.absoluteFilePath() == QFileInfo(kept).absoluteFilePath()) {
            parts << kept;
            continue;
        }
        QFile::remove(kept);
        parts << (QFile::rename(part.absoluteFilePath(), kept) ? kept : part.absoluteFilePath());
    }
    if (parts != r.parts) {
        r.parts = parts;
        replaceFile(path, liveCallText(r));
    }

    QStringList outcome{QStringLiteral("call on %1 stopped with the dialer after %2 s, last seen %3")
                            .arg(lineText)
                            .arg(r.seconds)
                            .arg(r.updated.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))};

    // The row, with the same writer as every other row. Whatever the display name, as for a
    // call the far end ends: the agent did not end this one.
    const QString logName = callLogFileName(r.agent);
    if (!r.rowWritten && logName.isEmpty()) {
        outcome << QStringLiteral("no row: the display name names no file");
        r.rowWritten = true;
    } else if (!r.rowWritten) {
        const QStringList v = interruptedCallRow(r, QLocale::system());
        const QString logPath = ctx.root.logFile(logName);
        const bool written = ctx.subsystems.callLog
                                 ? ctx.subsystems.callLog->writeOUTEntry(logPath, v[0], v[1], v[2], v[3], v[4], v[5])
                                 : appendLogLine(logPath, callLogRow(v[0], v[1], v[2], v[3], v[4], v[5]));
        if (written) {
            r.rowWritten = true;
            replaceFile(path, liveCallText(r));
            outcome << QStringLiteral("row written to logs/") + logName;
        } else {
            outcome << QStringLiteral("row NOT written: cannot write ") + logPath;
        }
    }

    // The recording, joined as the call's end would have saved it.
    bool recordingDone = true;
    QString savedRecording;
    if (parts.isEmpty()) {
        outcome << QStringLiteral("no recording");
    } else {
        makePrivatePath(ctx.root.messages());
        const QString target = uniqueRecordingPath(interruptedCallRecordingPath(r, ctx.root.messages()));
        switch (target.isEmpty() ? WaveJoin::WriteFailed : joinWaves(parts, target)) {
        case WaveJoin::Ok:
            savedRecording = target;
            outcome << QStringLiteral("recording messages/") + QFileInfo(target).fileName();
            break;
        case WaveJoin::NothingToJoin:
            outcome << QStringLiteral("no recording: its parts hold no sound");
            break;
        case WaveJoin::WriteFailed:
            recordingDone = false;
            outcome << QStringLiteral("recording NOT saved: cannot write ") +
                           (target.isEmpty() ? ctx.root.messages() : target);
            break;
        }
    }

    // The call-detail record, once the recording it names is settled.
    if (recordingDone && !r.detailWritten) {
        const CallDetail detail = interruptedCallDetail(r, savedRecording);
        const QString detailName = callDetailFileName(r.agent);
        if (detailName.isEmpty()) {
            r.detailWritten = true;
        } else if (ctx.subsystems.callLog ? ctx.subsystems.callLog->writeCallDetail(detail)
                                          : appendLogLine(ctx.root.logFile(detailName), callDetailLine(detail))) {
            r.detailWritten = true;
            replaceFile(path, liveCallText(r));
            outcome << QStringLiteral("call-detail record written");
        } else {
            outcome << QStringLiteral("call-detail record NOT written");
        }
    }

    const bool done = r.rowWritten && recordingDone && r.detailWritten;
    if (!done) outcome << QStringLiteral("kept for the next start");
    journal.append(nowOf(ctx), kJournalChannel, r.number, outcome.join(QStringLiteral("; ")));
    if (!done) return false;
    for (const QString& part : parts)
        if (QFileInfo(part).absolutePath() == QFileInfo(folder()).absoluteFilePath()) QFile::remove(part);
    QFile::remove(path);
    return true;
}

} // namespace corvid
