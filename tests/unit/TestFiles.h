#pragma once
// Whole-file reads and writes for the unit tests that check what a rule left on disk.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace corvid::test {

inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool putFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace corvid::test
