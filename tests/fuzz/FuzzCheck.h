#pragma once
// What every fuzz target shares: the entry point libFuzzer calls, a property check that aborts (so
// libFuzzer, or the replay program, reports the input), and the input cut into pieces.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

// The input cut at every separator byte; at most maxPieces pieces (the last one keeps the rest).
inline QList<QByteArray> fuzzPieces(const uint8_t* data, size_t size, char separator, int maxPieces) {
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QByteArray> pieces;
    qsizetype from = 0;
    while (pieces.size() < maxPieces - 1) {
        const qsizetype at = all.indexOf(separator, from);
        if (at < 0) break;
        pieces << all.mid(from, at - from);
        from = at + 1;
    }
    pieces << all.mid(from);
    return pieces;
}

inline bool isTenDigits(const QString& s) {
    if (s.size() != 10) return false;
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
    return true;
}
