#pragma once
// The settings store: small INI files in the system's locale encoding, lines ending CR LF.
//
// Three routines read and write keys, with one reading of the format. They work on the raw bytes
// of a file, so bytes they do not change (non-ASCII text, odd control characters, other programs'
// lines) are kept as they are.
//
// The format, as every routine reads it: a leading UTF-8 byte-order mark is skipped (Windows
// editors write one). A line ends at CR LF, at a lone LF or at a lone CR, so a file written by a
// Linux editor reads as one written here. Blanks around a line are ignored. A line whose first
// character is "[" is a section header, its name running to the last "]" (a "[" further on belongs
// to the line's value). Any other line is an entry: its name before the first "=", its value after
// it, both trimmed of blanks; a value enclosed in matching single or double quotes loses them.
// Section and key names match without regard to case; the first entry of the key in a section of
// that name counts (a section may be written twice).
//
//  - ReadIniKey: the value of a key; a missing file is made to exist.
//  - GetProfileKey: the same value, at most ProfileValueMaxChars characters (note the file comes
//    last).
//  - WriteIniKey: replaces the line of the entry the readers find, or adds the entry as the first
//    of its section, or appends the section after one blank line. A value with blanks around it,
//    or enclosed in quotes itself, is written in double quotes so that it reads back as it was; a
//    line break in a value becomes a blank. It normalises the whole file (every line end CR LF, no
//    two blank lines in a row, no blank lines at its start or end, one final CR LF) and replaces the
//    file atomically through the dialer's one private-file writer (platform/PrivateFiles.h).
//
// Reads of an agent's settings file (bin/corvidapp.ini) that do not find the key fall back to the
// site-wide defaults (SiteSettings.h); writes never touch the site file.
//
// Reader and writer make a missing file exist (empty) and make it writable for its owner.

#include <QByteArray>
#include <QString>

namespace corvid {

// The hand-written reader: the value of key in section, or "" when absent or unreadable.
QString ReadIniKey(const QString& file, const QString& section, const QString& key);

// The hand-written writer. Callers ignore failures; WriteIniKeyFile reports them.
void WriteIniKey(const QString& file, const QString& section, const QString& key, const QString& value);

// The profile lookup: the value of key in section of file, or "".
QString GetProfileKey(const QString& section, const QString& key, const QString& file);

namespace ini {

// The profile lookup's buffer holds 750 characters including the terminator.
constexpr int ProfileValueMaxChars = 749;

// The writer with its outcome: false when the file could not be read or the new text could not be
// written and renamed over the old file (the old file is then left exactly as it was).
bool WriteIniKeyFile(const QString& file, const QString& section, const QString& key, const QString& value);

// Creates an empty file when none exists and gives an existing one owner read and write permission
// (the counterpart of clearing read-only, hidden and system attributes). False when it cannot.
bool makeFileExist(const QString& file);

// The pure rules on the bytes of a whole file. Names are passed as given by the caller.
// readKey: the untruncated value, null when not found (an empty value found is empty but not null).
QByteArray readKey(const QByteArray& text, const QByteArray& section, const QByteArray& key);
// writeKey: the complete new file content, ending in CR LF.
QByteArray writeKey(const QByteArray& text, const QByteArray& section, const QByteArray& key, const QByteArray& value);

} // namespace ini
} // namespace corvid
