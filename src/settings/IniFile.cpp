#include "settings/IniFile.h"
#include "settings/SiteSettings.h"

#include "platform/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace corvid {
namespace {

const QByteArray CrLf("\r\n");

bool readWholeFile(const QString& file, QByteArray* text) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return false;
    *text = f.readAll();
    return f.error() == QFileDevice::NoError;
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// The line starting at *pos, without its end; *pos moves past the end. A line ends at CR LF, at a
// lone LF or at a lone CR: editors and other programs write any of them.
QByteArray nextLine(const QByteArray& text, qsizetype* pos) {
    qsizetype end = *pos;
    while (end < text.size() && text.at(end) != '\r' && text.at(end) != '\n')
        ++end;
    const QByteArray line = text.mid(*pos, end - *pos);
    *pos = end;
    if (*pos < text.size() && text.at(*pos) == '\r') ++*pos;
    if (*pos < text.size() && text.at(*pos) == '\n') ++*pos;
    return line;
}

// The text with every line end written as CR LF.
QByteArray withCrLf(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype pos = 0; pos < text.size();) {
        const qsizetype start = pos;
        const QByteArray line = nextLine(text, &pos);
        out += line;
        if (pos > start + line.size()) out += CrLf; // the line had an end
    }
    return out;
}

const QByteArray Bom("\xEF\xBB\xBF");

// Blanks around a name or a value are not part of it.
QByteArray trimmedBlanks(const QByteArray& bytes) {
    qsizetype from = 0, to = bytes.size();
    while (from < to && isBlank(bytes.at(from)))
        ++from;
    while (to > from && isBlank(bytes.at(to - 1)))
        --to;
    return bytes.mid(from, to - from);
}

bool sameName(const QByteArray& a, const QByteArray& b) {
    return QString::fromLocal8Bit(a).compare(QString::fromLocal8Bit(b), Qt::CaseInsensitive) == 0;
}

// One line as the format reads it: a header (its first character after blanks is "[", the name
// runs to the last "]"), or an entry (the name before the first "=", the value after it; a line
// without "=" is a name with an empty value). A "[" further on belongs to the line's value.
struct Line {
    bool header = false;
    QByteArray name;
    QByteArray value;
};

Line readLine(const QByteArray& raw) {
    Line line;
    const QByteArray t = trimmedBlanks(raw);
    if (t.startsWith('[')) {
        line.header = true;
        const qsizetype close = t.lastIndexOf(']');
        line.name = trimmedBlanks(t.mid(1, close > 0 ? close - 1 : -1));
        return line;
    }
    const qsizetype eq = t.indexOf('=');
    line.name = trimmedBlanks(eq < 0 ? t : t.left(eq));
    line.value = eq < 0 ? QByteArray("") : trimmedBlanks(t.mid(eq + 1));
    if (line.value.isNull()) line.value = QByteArray("");
    const QByteArray& v = line.value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        line.value = v.mid(1, v.size() - 2);
    return line;
}

// Where the key's entry and its section stand in a text: the byte offsets of the entry's line and
// of the line after the first header of the section; -1 when there is none. The first entry in
// file order counts, in whichever header of that name it stands.
struct Place {
    qsizetype entryStart = -1;
    qsizetype entryEnd = -1; // the end of the entry's line, before its line end
    qsizetype sectionBody = -1;
    QByteArray value;
};

Place findKey(const QByteArray& text, const QByteArray& section, const QByteArray& key) {
    Place place;
    const QByteArray wantedSection = trimmedBlanks(section);
    const QByteArray wantedKey = trimmedBlanks(key);
    bool inSection = false;
    qsizetype pos = text.startsWith(Bom) ? Bom.size() : 0; // Windows editors write a byte-order mark
    while (pos < text.size()) {
        const qsizetype start = pos;
        const QByteArray raw = nextLine(text, &pos);
        const Line line = readLine(raw);
        if (line.header) {
            inSection = sameName(line.name, wantedSection);
            if (inSection && place.sectionBody < 0) place.sectionBody = pos;
            continue;
        }
        if (inSection && !raw.isEmpty() && sameName(line.name, wantedKey)) {
            place.entryStart = start;
            place.entryEnd = start + raw.size();
            place.value = line.value;
            return place;
        }
    }
    return place;
}

// A value reads back as written: one with blanks around it, or that quotes itself, is quoted; a
// line break in it would start a new entry, so it becomes a blank.
QByteArray writtenValue(QByteArray value) {
    value.replace('\r', ' ').replace('\n', ' ');
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted || trimmedBlanks(value).size() != value.size()) return '"' + value + '"';
    return value;
}

} // namespace

namespace ini {

bool makeFileExist(const QString& file) {
    QFileInfo info(file);
    if (!info.exists()) {
        QFile f(file);
        if (!openPrivate(f, QIODevice::WriteOnly)) return false;
        f.close();
        return true;
    }
    if (info.isDir()) return false;
    const QFileDevice::Permissions wanted = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if ((info.permissions() & wanted) != wanted)
        QFile::setPermissions(file, info.permissions() | wanted); // best effort, like clearing read-only
    return true;
}

QByteArray readKey(const QByteArray& text, const QByteArray& section, const QByteArray& key) {
    const Place place = findKey(text, section, key);
    return place.entryStart < 0 ? QByteArray() : place.value;
}

QByteArray writeKey(const QByteArray& text, const QByteArray& section, const QByteArray& key, const QByteArray& value) {
    const QByteArray entry = key + "=" + writtenValue(value);
    // Every line end becomes CR LF, and the last line gets one; blank lines go from the start, and a
    // byte-order mark then in front stays there.
    QByteArray t = withCrLf(text);
    t.remove(0, std::find_if(t.cbegin(), t.cend(), [](char c) { return !isLineEnd(c); }) - t.cbegin());
    const bool bom = t.startsWith(Bom);
    if (bom) t.remove(0, Bom.size());
    if (!t.isEmpty() && !t.endsWith(CrLf)) t += CrLf;

    const Place place = findKey(t, section, key);
    if (place.entryStart >= 0)
        t = t.left(place.entryStart) + entry + t.mid(place.entryEnd); // its line end stays
    else if (place.sectionBody >= 0)
        t = t.left(place.sectionBody) + entry + CrLf + t.mid(place.sectionBody); // first in its section
    else
        t += CrLf + CrLf + "[" + section + "]" + CrLf + entry;

    const QByteArray threeBreaks = CrLf + CrLf + CrLf;
    const QByteArray twoBreaks = CrLf + CrLf;
    while (t.contains(threeBreaks))
        t.replace(threeBreaks, twoBreaks);

    // Blank lines go from both ends; other control characters (a tab ending a value) are the
    // lines' own bytes.
    while (!t.isEmpty() && isLineEnd(t.back()))
        t.chop(1);
    qsizetype lead = 0;
    while (lead < t.size() && isLineEnd(t.at(lead)))
        ++lead;
    t.remove(0, lead);

    return (bom ? Bom : QByteArray()) + t + CrLf;
}

bool WriteIniKeyFile(const QString& file, const QString& section, const QString& key, const QString& value) {
    QByteArray text;
    if (!makeFileExist(file) || !readWholeFile(file, &text)) return false;
    const QByteArray newText = writeKey(text, section.toLocal8Bit(), key.toLocal8Bit(), value.toLocal8Bit());

    // The whole file is rewritten: a crash or a full disk midway leaves the old settings intact.
    return replaceFile(file, newText);
}

} // namespace ini

QString ReadIniKey(const QString& file, const QString& section, const QString& key) {
    QByteArray text;
    QByteArray value;
    if (ini::makeFileExist(file) && readWholeFile(file, &text))
        value = ini::readKey(text, section.toLocal8Bit(), key.toLocal8Bit());
    if (value.isNull() && site::isAgentSettingsFile(file)) value = site::siteValue(section.toLocal8Bit(), key.toLocal8Bit());
    return QString::fromLocal8Bit(value);
}

void WriteIniKey(const QString& file, const QString& section, const QString& key, const QString& value) {
    ini::WriteIniKeyFile(file, section, key, value);
}

QString GetProfileKey(const QString& section, const QString& key, const QString& file) {
    QByteArray text;
    QByteArray bytes;
    if (readWholeFile(file, &text)) bytes = ini::readKey(text, section.toLocal8Bit(), key.toLocal8Bit());
    if (bytes.isNull() && site::isAgentSettingsFile(file)) bytes = site::siteValue(section.toLocal8Bit(), key.toLocal8Bit());
    QString value = QString::fromLocal8Bit(bytes);
    if (value.size() > ini::ProfileValueMaxChars) {
        qsizetype n = ini::ProfileValueMaxChars;
        if (value.at(n - 1).isHighSurrogate()) --n; // never split a character in two
        value.truncate(n);
    }
    return value;
}

} // namespace corvid
