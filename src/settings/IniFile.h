#pragma once
// The settings store: small INI files in the system's locale encoding, lines ending CR LF.
//
// Three routines read and write keys. They work on the raw bytes of a file, so bytes they do not
// change (non-ASCII text, odd control characters, other programs' lines) are kept as they are.
//
// All three end a line at CR LF, at a lone LF and at a lone CR, so a file written by a Linux editor
// reads as one written here. A section header is a line whose first character after leading blanks
// is "["; a "[" further on belongs to the line's value.
//
//  - ReadIniKey: the hand-written reader. Section and key names match without regard to ASCII case;
//    a header opens the section only when it is exactly "[" + name + "]"; the key stands at the very
//    start of its line, and the value is the rest of the line, untrimmed.
//  - WriteIniKey: the hand-written writer. Replaces the first entry of the key in the section, or
//    adds it as the first entry of the section, or appends the section after one blank line; it
//    normalises the whole file (every line end CR LF, no two blank lines in a row, no blank lines
//    at its start or end, one final CR LF) and replaces the file atomically: the new text
//    goes to a temporary file in the same folder that is renamed over the old one, so a failure
//    midway leaves the old file untouched.
//  - GetProfileKey: the profile lookup used for the account keys (note the file comes last).
//    Section and key names match without regard to case; blanks around key and value are trimmed;
//    a value enclosed in matching single or double quotes loses them; at most ProfileValueMaxChars
//    characters are returned.
//
// Reads of an agent's settings file (bin/corvidapp.ini) that do not find the key fall back to the
// site-wide defaults (SiteSettings.h); writes never touch the site file.
//
// Reader and writer make a missing file exist (empty) and make it writable for its owner.
// Names are compared in ASCII lower case; the byte length of a name never changes by lowering it,
// which the writer relies on (it finds positions in a lower-case copy and cuts the original).

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
// readKey: null QByteArray when not found (an empty value found is empty but not null).
QByteArray readKey(const QByteArray& text, const QByteArray& section, const QByteArray& key);
// writeKey: the complete new file content, ending in CR LF.
QByteArray writeKey(const QByteArray& text, const QByteArray& section, const QByteArray& key, const QByteArray& value);
// profileKey: the untruncated value (quotes removed), null when not found.
QByteArray profileKey(const QByteArray& text, const QByteArray& section, const QByteArray& key);

} // namespace ini
} // namespace corvid
