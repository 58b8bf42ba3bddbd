#pragma once
// Blanks (spaces only) removed from both ends of a text, as the account code, the number of a
// recording and the status mirror are trimmed. Tabs and other white space are the text's own.

#include <QString>

namespace corvid {

inline QString trimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

} // namespace corvid
