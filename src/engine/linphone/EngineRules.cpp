#include "engine/linphone/EngineRules.h"

#include <QHostAddress>
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

int autoAnswerAfter(const QString& callInfo, const QString& alertInfo) {
    const auto seconds = [](const QString& digits) {
        bool ok = false;
        const qlonglong n = digits.toLongLong(&ok);
        return ok && n < kMaxAnswerAfter ? int(n) : kMaxAnswerAfter;
    };
    static const QRegularExpression answerAfter(QStringLiteral("[;,\\s]answer-after\\s*=\\s*\"?([0-9]{1,12})"),
                                                QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch after = answerAfter.match(callInfo);
    if (after.hasMatch()) return seconds(after.captured(1));
    static const QRegularExpression autoAnswer(QStringLiteral("alert-autoanswer|auto answer"),
                                               QRegularExpression::CaseInsensitiveOption);
    if (!autoAnswer.match(alertInfo).hasMatch()) return -1;
    static const QRegularExpression delay(QStringLiteral(";\\s*delay\\s*=\\s*\"?([0-9]{1,12})"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch d = delay.match(alertInfo);
    return d.hasMatch() ? seconds(d.captured(1)) : 0;
}

namespace {

struct HostPort {
    QString host;
    int port = 0; // 0: none given
};

// "host", "host:port", "[v6]" or "[v6]:port".
HostPort splitHostPort(QString text) {
    text = text.trimmed();
    HostPort hp;
    qsizetype colon = -1;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) return hp;
        hp.host = text.mid(1, close - 1);
        if (text.size() > close + 1 && text.at(close + 1) == QLatin1Char(':')) colon = close + 1;
    } else {
        colon = text.indexOf(QLatin1Char(':'));
        hp.host = colon < 0 ? text : text.left(colon);
    }
    if (colon >= 0) {
        bool ok = false;
        const int port = text.mid(colon + 1).toInt(&ok);
        hp.port = ok && port > 0 && port < 65536 ? port : -1;
    }
    return hp;
}

} // namespace

bool viaFromServer(const QString& topVia, const QString& server, const QStringList& serverAddresses, bool tls) {
    const int defaultPort = tls ? 5061 : 5060;
    // "SIP/2.0/UDP host:port;param=value;..." (only the first value when several are listed).
    QString via = topVia.trimmed();
    const qsizetype comma = via.indexOf(QLatin1Char(','));
    if (comma >= 0) via = via.left(comma);
    const QStringList parts = via.split(QLatin1Char(';'));
    const QString protocolAndSentBy = parts.value(0).simplified();
    const qsizetype blank = protocolAndSentBy.indexOf(QLatin1Char(' '));
    if (blank < 0 || !protocolAndSentBy.startsWith(QLatin1String("SIP/2.0/"), Qt::CaseInsensitive)) return false;
    HostPort source = splitHostPort(protocolAndSentBy.mid(blank + 1));
    if (source.host.isEmpty() || source.port < 0) return false;
    const QString sentByHost = source.host;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString name = parts[i].section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = parts[i].section(QLatin1Char('='), 1).trimmed();
        if (name == QLatin1String("received") && !value.isEmpty()) {
            source.host = value.startsWith(QLatin1Char('[')) ? value.mid(1).chopped(1) : value;
            // The library writes "received" only when the packet came from another address than
            // the sent-by; a sender at the address it names could have written one of its own.
            const QHostAddress sentBy(sentByHost);
            if (!sentBy.isNull() && sentBy == QHostAddress(source.host)) continue;
            if (!sentBy.isNull()) return false;
        } else if (name == QLatin1String("rport") && !value.isEmpty()) {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port <= 0 || port > 65535) return false;
            source.port = port;
        }
    }
    const HostPort wanted = splitHostPort(server);
    if (wanted.host.isEmpty() || wanted.port < 0) return false;
    if ((source.port ? source.port : defaultPort) != (wanted.port ? wanted.port : defaultPort)) return false;
    if (source.host.compare(wanted.host, Qt::CaseInsensitive) == 0) return true;
    return serverAddresses.contains(source.host, Qt::CaseInsensitive);
}

} // namespace corvid::engine_rules
