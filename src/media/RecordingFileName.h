#pragma once
// The file name of a call or monitoring-call recording, and the rule that a saved recording never
// replaces an existing file.

#include <QDateTime>
#include <QString>

namespace corvid {

// messagesDir + "/" + number + "_" + date as DDMMYY + "_" + time as hhmmss (24-hour) + ".wav",
// e.g. "5551234567_060326_141502.wav". The clock is passed in: a call recording's name is composed
// when it is saved, a monitoring call's when recording starts.
//
// The number is used as given (a call recording's caller trims the number field first; a
// monitoring call's extension is used unchanged), except that every character a file name cannot
// hold becomes "_": path separators, control characters and : * ? " < > | (on every platform, so
// that a name is the same everywhere). The file therefore always lands directly in messagesDir,
// whatever the number field holds ("../x" gives ".._x_...wav").
QString RecordingFileName(const QString& messagesDir, const QString& number, const QDateTime& now);

// The number part of a recording file name: number with the characters above replaced by "_".
QString recordingNamePart(const QString& number);

// path when no file or folder of that name exists; otherwise the first free name with "_2",
// "_3", ... put before the extension ("a.wav", "a_2.wav", "a_3.wav"). Empty when no free name is
// found within maxTries, so that the caller saves nothing rather than overwrite.
QString uniqueRecordingPath(const QString& path, int maxTries = 10000);

} // namespace corvid
