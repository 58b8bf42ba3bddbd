#include "dialer/CallLog.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "window/WindowContext.h"
#include "dialer/LogRecords.h"
#include "platform/PrivateFiles.h"
#include "ui_MainForm.h"

namespace corvid {

CallLog::CallLog(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    connect(ctx.ui->BtnClearLog, &QPushButton::clicked, this, &CallLog::onBtnClearLogClicked);
    connect(ctx.timers.logCleanTimer, &QTimer::timeout, this, &CallLog::onLogCleanTimerTimeout);
}

bool CallLog::appendRecord(const QString& path, const QByteArray& line) {
    if (path.isEmpty()) return false;
    // The logs and datalink folders are made at start-up; one removed while the program runs is
    // made again rather than losing the record. No other folder is ever created here.
    const QString folder = QFileInfo(path).absolutePath();
    if ((folder == ctx.root.logs() || folder == ctx.root.datalink()) && !QFileInfo(folder).isDir())
        makePrivatePath(folder);
    if (appendLogLine(path, line)) return true;
    // A record that could not be written (a full disk, a folder made read-only or replaced) is
    // said in the status log with its file, never passed over. Not through the log's mirror: a
    // file name must not look like a call's result.
    ctx.ui->ListStatusLog->addItem(QStringLiteral("Not written: could not write ") + QDir::toNativeSeparators(path) +
                                   QLatin1Char('.'));
    return false;
}

bool CallLog::writeOUTEntry(const QString& path, const QString& number, const QString& agent, const QString& seconds,
                            const QString& time, const QString& date, const QString& result) {
    return appendRecord(path, callLogRow(number, agent, seconds, time, date, result));
}

bool CallLog::writePlacedCalls(const QString& path, const QString& number, const QString& when) {
    return appendRecord(path, printRecord(number, when));
}

bool CallLog::writeIMFile(const QString& path, const QString& line) {
    return appendRecord(path, printRecord(line));
}

bool CallLog::writeInFile(const QString& path, const QString& text) {
    return appendRecord(path, writeRecord({text}));
}

bool CallLog::writeCallLogRow(const QString& number, const QString& result, bool evenWithoutDisplayName) {
    const QString displayName = ctx.ui->EditAccountDisplayName->text();
    if (displayName.isEmpty() && !evenWithoutDisplayName) return false; // not due: callsec keeps counting

    const QDateTime now = ctx.services.clock->now();
    const QString fileName = callLogFileName(displayName);
    bool written = false;
    if (!fileName.isEmpty()) {
        const QStringList row{number, displayName, ctx.ui->callsec->text(), callLogTimeText(now.time()),
                              callLogDateText(now.date()), result};
        written = writeOUTEntry(ctx.root.logFile(fileName), row[0], row[1], row[2], row[3], row[4], row[5]);
        if (written) emit callLogRowWritten(row);
    }
    ctx.ui->callsec->setText(QStringLiteral("0"));
    return written;
}

bool CallLog::writeCallLogRowOf(const QString& number, const QString& seconds, const QString& result) {
    const QString displayName = ctx.ui->EditAccountDisplayName->text();
    const QString fileName = callLogFileName(displayName);
    if (fileName.isEmpty()) return false;
    const QDateTime now = ctx.services.clock->now();
    const QStringList row{number, displayName, seconds, callLogTimeText(now.time()), callLogDateText(now.date()),
                          result};
    const bool written = writeOUTEntry(ctx.root.logFile(fileName), row[0], row[1], row[2], row[3], row[4], row[5]);
    if (written) emit callLogRowWritten(row);
    return written;
}

bool CallLog::writeCallDetail(const CallDetail& detail) {
    const QString fileName = callDetailFileName(detail.agent);
    const QByteArray record = callDetailLine(detail);
    // A display name that names no file gets no record, as it gets no row.
    const bool written = !fileName.isEmpty() && appendRecord(ctx.root.logFile(fileName), record);
    if (written) emit callDetailWritten(record.chopped(1));
    const QString poor = poorAudioText(detail.line, detail.quality);
    if (!poor.isEmpty()) ctx.ui->ListStatusLog->addItem(poor);
    return written;
}

QString CallLog::placedCallsPath() const {
    return ctx.root.logFile(PlacedCallsFileName);
}

QString CallLog::chatLogPath() const {
    return ctx.root.logFile(chatLogFileName(ctx.services.clock->now().date()));
}

void CallLog::onBtnClearLogClicked() {
    ctx.ui->ListStatusLog->clear();
    ctx.ui->EditPhoneNo->clear();
}

void CallLog::onLogCleanTimerTimeout() {
    ctx.timers.logCleanTimer->stop();
    ctx.ui->ListStatusLog->clear();
}

} // namespace corvid
