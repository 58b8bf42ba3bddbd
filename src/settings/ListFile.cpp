#include "settings/ListFile.h"

#include <QFile>

namespace corvid {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

// Consumes the delimiter at pos (a comma, CR LF, CR or LF) and returns the position after it.
qsizetype skipDelimiter(const QByteArray& s, qsizetype pos) {
    if (pos >= s.size()) return pos;
    if (s.at(pos) == ',') return pos + 1;
    if (s.at(pos) == '\r' && pos + 1 < s.size() && s.at(pos + 1) == '\n') return pos + 2;
    return pos + 1;
}

} // namespace

QStringList readListFields(const QByteArray& content, int maxFields) {
    QStringList fields;
    qsizetype pos = 0;
    const qsizetype n = content.size();
    while (fields.size() < maxFields && pos < n) {
        while (pos < n && isBlank(content.at(pos)))
            ++pos;
        QByteArray field;
        if (pos < n && content.at(pos) == '"') {
            ++pos;
            qsizetype close = pos;
            while (close < n && content.at(close) != '"' && !isLineEnd(content.at(close)))
                ++close;
            field = content.mid(pos, close - pos);
            pos = close < n && content.at(close) == '"' ? close + 1 : close;
            // Text after the closing quote up to the delimiter is dropped.
            while (pos < n && content.at(pos) != ',' && !isLineEnd(content.at(pos)))
                ++pos;
        } else {
            qsizetype end = pos;
            while (end < n && content.at(end) != ',' && !isLineEnd(content.at(end)))
                ++end;
            qsizetype last = end;
            while (last > pos && isBlank(content.at(last - 1)))
                --last;
            field = content.mid(pos, last - pos);
            pos = end;
        }
        pos = skipDelimiter(content, pos);
        fields.append(QString::fromLocal8Bit(field));
    }
    return fields;
}

QStringList readListFile(const QString& path, int maxFields) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray content = f.readAll();
    if (f.error() != QFileDevice::NoError) return {};
    return readListFields(content, maxFields);
}

} // namespace corvid
