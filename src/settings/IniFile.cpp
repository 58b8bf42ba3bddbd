#include "settings/IniFile.h"
#include "settings/SiteSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <unistd.h>

#include "platform/PrivateFiles.h"
#endif

namespace corvid {
namespace {

const QByteArray CrLf("\r\n");

// Names compare in ASCII lower case only, so lowering never changes a byte position.
QByteArray lower(const QByteArray& bytes) {
    return bytes.toLower();
}

bool readWholeFile(const QString& file, QByteArray* text) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return false;
    *text = f.readAll();
    return f.error() == QFileDevice::NoError;
}

// The new text must be on disk before it replaces the old file, or a power cut could leave neither.
bool syncToDisk(QFileDevice& f) {
#ifdef Q_OS_UNIX
    return ::fsync(f.handle()) == 0;
#else
    return f.flush();
#endif
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

// A section header is a line whose first character after leading blanks is "["; a "[" further on
// is part of a value (a transfer entry "5551234567 [Sales]").
bool isHeaderLine(const QByteArray& line) {
    qsizetype i = 0;
    while (i < line.size() && isBlank(line.at(i)))
        ++i;
    return i < line.size() && line.at(i) == '[';
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

// The start of the first header line at or after the line start from in a CR LF text; the text's
// size when none follows.
qsizetype nextHeaderLine(const QByteArray& text, qsizetype from) {
    qsizetype pos = from;
    while (pos < text.size()) {
        const qsizetype start = pos;
        if (isHeaderLine(nextLine(text, &pos))) return start;
    }
    return text.size();
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
    const QByteArray header = "[" + lower(section) + "]";
    const QByteArray keyMark = lower(key) + "=";
    bool inSection = false;
    for (qsizetype pos = 0; pos < text.size();) {
        const QByteArray line = nextLine(text, &pos);
        const QByteArray lc = lower(line);
        if (isHeaderLine(lc)) {
            inSection = lc == header;
            continue;
        }
        if (inSection && lc.startsWith(keyMark))
            return line.mid(keyMark.size()).isNull() ? QByteArray("") : line.mid(keyMark.size());
    }
    return QByteArray();
}

QByteArray writeKey(const QByteArray& text, const QByteArray& section, const QByteArray& key, const QByteArray& value) {
    const QByteArray headerMark = "\r\n[" + lower(section) + "]\r";
    const QByteArray keyMark = "\n" + lower(key) + "=";
    const QByteArray entry = key + "=" + value;

    // Every line end becomes CR LF, and the last line gets one; the leading CR LF lets the header of
    // the first line match.
    QByteArray t = CrLf + withCrLf(text);
    if (!t.endsWith(CrLf)) t += CrLf;
    const QByteArray l = lower(t);

    const qsizetype h = l.indexOf(headerMark);
    if (h >= 0) {
        const qsizetype body = h + headerMark.size() + 1; // the line after the header's CR LF
        const qsizetype nextSection = nextHeaderLine(l, body);
        const qsizetype k = l.indexOf(keyMark, h);
        if (k < 0 || k >= nextSection) {
            // Not in this section: the new entry goes first, right after the header line.
            t = t.left(body) + entry + CrLf + t.mid(body);
        } else {
            // Replace the first entry of the section, keeping its LF and its line end.
            const qsizetype e = t.indexOf('\r', k);
            t = t.left(k + 1) + entry + t.mid(e);
        }
    } else {
        t += CrLf + CrLf + "[" + section + "]" + CrLf + entry;
    }

    t.remove(0, 1); // the CR added above; its LF goes with the leading line ends below

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

    return t + CrLf;
}

QByteArray profileKey(const QByteArray& text, const QByteArray& section, const QByteArray& key) {
    const QString wantedSection = QString::fromLocal8Bit(section.trimmed());
    const QString wantedKey = QString::fromLocal8Bit(key.trimmed());
    bool inSection = false;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QByteArray line = nextLine(text, &pos).trimmed();

        if (line.startsWith('[')) {
            const qsizetype close = line.lastIndexOf(']');
            if (close > 0) {
                const QString name = QString::fromLocal8Bit(line.mid(1, close - 1).trimmed());
                inSection = name.compare(wantedSection, Qt::CaseInsensitive) == 0;
                continue;
            }
        }
        if (!inSection) continue;
        const qsizetype eq = line.indexOf('=');
        const QByteArray name = (eq < 0 ? line : line.left(eq)).trimmed();
        if (QString::fromLocal8Bit(name).compare(wantedKey, Qt::CaseInsensitive) != 0) continue;
        QByteArray v = eq < 0 ? QByteArray("") : line.mid(eq + 1).trimmed();
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        return v.isNull() ? QByteArray("") : v;
    }
    return QByteArray();
}

bool WriteIniKeyFile(const QString& file, const QString& section, const QString& key, const QString& value) {
    QByteArray text;
    if (!makeFileExist(file) || !readWholeFile(file, &text)) return false;
    const QByteArray newText = writeKey(text, section.toLocal8Bit(), key.toLocal8Bit(), value.toLocal8Bit());

    // The whole file is rewritten: write a temporary file beside it and rename it over the old one,
    // so a crash or a full disk midway leaves the old settings intact. Unbuffered, so that a failed
    // write shows here: a buffered QSaveFile flushes inside commit() and still renames a truncated
    // file when that flush fails.
    QSaveFile out(file);
    if (!openPrivate(out, QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    if (out.write(newText) != newText.size() || !syncToDisk(out)) {
        out.cancelWriting(); // the temporary file is discarded, the old file stays
        return false;
    }
    return out.commit();
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
    if (readWholeFile(file, &text)) bytes = ini::profileKey(text, section.toLocal8Bit(), key.toLower().toLocal8Bit());
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
