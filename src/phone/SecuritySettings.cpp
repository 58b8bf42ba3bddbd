#include "phone/SecuritySettings.h"

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace corvid {

namespace {

QString wrong(const char* key, const QString& text, const QString& rest) {
    return QStringLiteral("%1: \"%2\" %3").arg(QLatin1String(key), text, rest);
}

const QString NotOnline = QStringLiteral("Not going online.");

// "True" / "False" in any case; empty: the default; anything else stops going online.
bool flag(const std::function<QString(const char*)>& value, const char* key, bool byDefault, QStringList& errors) {
    const QString text = value(key).trimmed();
    if (text.isEmpty()) return byDefault;
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    errors << wrong(key, text, QStringLiteral("is neither True nor False. ") + NotOnline);
    return byDefault;
}

// host:port with a port of 1 to 65535, or a host alone (the STUN port 3478 then).
bool isHostPort(const QString& text) {
    if (text.contains(QLatin1Char(' ')) || text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('@')))
        return false;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return !text.isEmpty();
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    return colon > 0 && ok && port >= 1 && port <= 65535;
}

// A whole number of seconds: 0 (off) or lowest to 3600; empty: the default; anything else: the
// default with a note.
int seconds(const std::function<QString(const char*)>& value, const char* key, int lowest, int byDefault,
            QStringList& notes) {
    const QString text = value(key).trimmed();
    if (text.isEmpty()) return byDefault;
    bool ok = false;
    const int n = text.toInt(&ok);
    if (ok && (n == 0 || (n >= lowest && n <= 3600))) return n;
    notes << wrong(key, text, QStringLiteral("is not 0 or %1 to 3600 seconds; %2 is used.").arg(lowest).arg(byDefault));
    return byDefault;
}

} // namespace

SecuritySettings parseSecuritySettings(const std::function<QString(const char*)>& value,
                                       const std::function<bool(const QString&)>& fileReadable) {
    SecuritySettings out;
    SipSecurity& s = out.security;
    QStringList& notes = out.notes;
    QStringList& errors = out.errors;

    const QString transport = value(keys::SipTransport).trimmed();
    if (transport.compare(QLatin1String("TLS"), Qt::CaseInsensitive) == 0)
        s.transport = SipSecurity::Transport::Tls;
    else if (transport.compare(QLatin1String("TCP"), Qt::CaseInsensitive) == 0)
        s.transport = SipSecurity::Transport::Tcp;
    else if (!transport.isEmpty() && transport.compare(QLatin1String("UDP"), Qt::CaseInsensitive) != 0)
        errors << wrong(keys::SipTransport, transport, QStringLiteral("is not UDP, TCP or TLS. ") + NotOnline);
    const bool tls = s.transport == SipSecurity::Transport::Tls;

    const QString ca = value(keys::TlsCaFile).trimmed();
    if (!ca.isEmpty()) {
        if (fileReadable(ca))
            s.caFile = ca;
        else
            notes << wrong(keys::TlsCaFile, ca,
                           QStringLiteral("cannot be read; the system's certificate authorities are used."));
    }
    s.verifyServer = flag(value, keys::TlsVerify, true, errors);
    if (tls && !s.verifyServer)
        out.unverifiedNote = QStringLiteral("TlsVerify is False: the SIP server's certificate is not verified.");

    const QString media = value(keys::MediaEncryption).trimmed();
    if (media.compare(QLatin1String("SRTP"), Qt::CaseInsensitive) == 0) {
        // The keys travel in the SDP: only a TLS connection keeps them secret. Asked for without
        // it, the calls would not be private: no call is better than one that looks protected.
        s.srtp = tls;
        if (!tls) errors << wrong(keys::MediaEncryption, media, QStringLiteral("needs SipTransport TLS. ") + NotOnline);
    } else if (!media.isEmpty() && media.compare(QLatin1String("None"), Qt::CaseInsensitive) != 0) {
        errors << wrong(keys::MediaEncryption, media, QStringLiteral("is not None or SRTP. ") + NotOnline);
    }
    s.srtpMandatory = flag(value, keys::MediaEncryptionMandatory, false, errors) && s.srtp;

    const QString stun = value(keys::StunServer).trimmed();
    if (isHostPort(stun))
        s.stunServer = stun;
    else if (!stun.isEmpty())
        notes << wrong(keys::StunServer, stun, QStringLiteral("is not host:port; no STUN server is used."));
    s.ice = flag(value, keys::IceEnabled, false, errors);
    if (s.ice && s.stunServer.isEmpty()) {
        s.ice = false;
        notes << QStringLiteral("IceEnabled: ICE needs a StunServer; False is used.");
    }
    s.keepAliveSeconds = seconds(value, keys::SipKeepAliveSeconds, 5, s.keepAliveSeconds, notes);
    s.registrarCheckSeconds = seconds(value, keys::RegistrarCheckSeconds, 2, s.registrarCheckSeconds, notes);
    s.registrarRefreshSeconds = seconds(value, keys::RegistrarRefreshSeconds, 10, s.registrarRefreshSeconds, notes);

    QStringList wrongSources;
    for (const QString& word :
         value(keys::SipAllowFrom).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        (parseNetwork(word) ? s.allowFrom : wrongSources) << word;
    for (const QString& word : wrongSources)
        notes << wrong(keys::SipAllowFrom, word, QStringLiteral("is not an address or network; it is left out."));
    return out;
}

QString connectionSecurityText(const SipSecurity& security) {
    if (security.transport != SipSecurity::Transport::Tls) return QStringLiteral("not encrypted");
    return security.verifyServer ? QStringLiteral("TLS") : QStringLiteral("TLS, server not verified");
}

SecuritySettings SecuritySettingsFrom(const QString& settingsFile) {
    const QString section = QString::fromLatin1(keys::System);
    return parseSecuritySettings(
        [&](const char* key) { return GetProfileKey(section, QString::fromLatin1(key), settingsFile); },
        [](const QString& path) {
            const QFileInfo info(path);
            return info.isFile() && info.isReadable();
        });
}

} // namespace corvid
