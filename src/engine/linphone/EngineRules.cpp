#include "engine/linphone/EngineRules.h"

#include <QRegularExpression>
#include <cmath>

namespace corvid::engine_rules {

float volumeToGainDb(int volume) {
    if (volume <= 0) return kSilenceDb;
    const float db = 20.0f * std::log10(float(qMin(volume, kVolumeMax)) / float(kVolumeUnity));
    return qMax(db, kSilenceDb);
}

int levelFromDbm0(float dbm0) {
    if (!std::isfinite(dbm0) || dbm0 <= -100.0f) return 0;
    if (dbm0 >= 0.0f) return kLevelMax;
    return int(std::lround(kLevelMax * std::pow(10.0, dbm0 / 20.0)));
}

ResponseClass classifyStatus(int code) {
    if (code >= 300 && code <= 399) return ResponseClass::Redirection;
    if (code >= 400 && code <= 499) return ResponseClass::RequestFailure;
    if (code >= 500 && code <= 599) return ResponseClass::ServerFailure;
    if (code >= 600 && code <= 699) return ResponseClass::GlobalFailure;
    return ResponseClass::None;
}

bool refusedAsUnregistered(int code, const QString& phrase) {
    return code >= 400 && code <= 499 && phrase.contains(QLatin1String("regist"), Qt::CaseInsensitive);
}

QString provisionalReason(int code) {
    switch (code) {
    case 180:
        return QStringLiteral("Ringing");
    case 181:
        return QStringLiteral("Call Is Being Forwarded");
    case 182:
        return QStringLiteral("Queued");
    case 183:
        return QStringLiteral("Session Progress");
    default:
        return QString();
    }
}

QString codecMimeName(int codec) {
    switch (codec) {
    case 0:
        return QStringLiteral("GSM");
    case 1:
        return QStringLiteral("iLBC");
    case 2:
        return QStringLiteral("PCMA");
    case 3:
        return QStringLiteral("PCMU");
    case 4:
        return QStringLiteral("G729");
    default:
        return QString();
    }
}

int codecNumber(const QString& mime) {
    for (int c = 0; c <= 4; ++c)
        if (mime.compare(codecMimeName(c), Qt::CaseInsensitive) == 0) return c;
    return -1;
}

QString dialTarget(const QString& number) {
    const QString t = number.trimmed();
    if (t.isEmpty()) return QString();
    static const QRegularExpression digits(QStringLiteral("^[0-9*#+]{1,64}$"));
    static const QRegularExpression uri(
        QStringLiteral("^sips?:[A-Za-z0-9._~!$&'()*+,;=%#-]{1,64}@[A-Za-z0-9.-]{1,190}(:[0-9]{1,5})?$"));
    if (digits.match(t).hasMatch() || uri.match(t).hasMatch()) return t;
    return QString();
}

QString chatUserName(const QString& text) {
    QString t = text.trimmed();
    const int blank = t.indexOf(QLatin1Char(' '));
    if (blank >= 0) t = t.left(blank);
    static const QRegularExpression user(QStringLiteral("^[A-Za-z0-9._+*-]{1,64}$"));
    return user.match(t).hasMatch() ? t : QString();
}

char dtmfDigit(const QString& text) {
    if (text.size() != 1) return 0;
    const char c = text.at(0).toUpper().toLatin1();
    if ((c >= '0' && c <= '9') || c == '*' || c == '#' || (c >= 'A' && c <= 'D')) return c;
    return 0;
}

} // namespace corvid::engine_rules
