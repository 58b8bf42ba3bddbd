#include "calls/CallRules.h"

#include <limits>

namespace corvid {

QString nextCallSeconds(const QString& text) {
    int i = 0;
    const int n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 10 - 1;
    qint64 value = 0;
    for (; i < n && text.at(i).isDigit() && text.at(i).unicode() < 0x80; ++i) {
        if (value > limit) return text.trimmed(); // no sensible count: leave it for the agent to see
        value = value * 10 + (text.at(i).unicode() - '0');
    }
    if (negative) value = -value;
    return QString::number(value + 1);
}

int sliderFromEngineVolume(int volume) {
    int quotient = volume / 25;
    int remainder = volume % 25;
    if (remainder < 0) {
        remainder += 25;
        --quotient;
    }
    if (2 * remainder > 25 || (2 * remainder == 25 && quotient % 2 != 0)) ++quotient;
    return quotient;
}

} // namespace corvid
