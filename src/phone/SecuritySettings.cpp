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

// "True" / "False" in any case; empty: the default; anything else: the default with a note.
bool flag(const std::function<QString(const char*)>& value, const char* key, bool byDefault, QStringList& notes) {
    const QString text = value(key).trimmed();
    if (text.isEmpty()) return byDefault;
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
    notes << wrong(key, text,
                   QStringLiteral("is neither True nor False; %1 is used.")
                       .arg(byDefault ? QStringLiteral("True") : QStringLiteral("False")));
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

} // namespace

SecuritySettings parseSecuritySettings(const std::function<QString(const char*)>& value,
                                       const std::function<bool(const QString&)>& fileReadable) {
    SecuritySettings out;
    SipSecurity& s = out.security;
    QStringList& notes = out.notes;

    const QString transport = value(keys::SipTransport).trimmed();
    if (transport.compare(QLatin1String("TLS"), Qt::CaseInsensitive) == 0)
        s.transport = SipSecurity::Transport::Tls;
    else if (transport.compare(QLatin1String("TCP"), Qt::CaseInsensitive) == 0)
        s.transport = SipSecurity::Transport::Tcp;
    else if (!transport.isEmpty() && transport.compare(QLatin1String("UDP"), Qt::CaseInsensitive) != 0)
        notes << wrong(keys::SipTransport, transport, QStringLiteral("is not UDP, TCP or TLS; UDP is used."));
    const bool tls = s.transport == SipSecurity::Transport::Tls;

    const QString ca = value(keys::TlsCaFile).trimmed();
    if (!ca.isEmpty()) {
        if (fileReadable(ca))
            s.caFile = ca;
        else
            notes << wrong(keys::TlsCaFile, ca,
                           QStringLiteral("cannot be read; the system's certificate authorities are used."));
    }
    s.verifyServer = flag(value, keys::TlsVerify, true, notes);
    if (tls && !s.verifyServer)
        out.unverifiedNote = QStringLiteral("TlsVerify is False: the SIP server's certificate is not verified.");

    const QString media = value(keys::MediaEncryption).trimmed();
    if (media.compare(QLatin1String("SRTP"), Qt::CaseInsensitive) == 0) {
        // The keys travel in the SDP: only a TLS connection keeps them secret.
        if (tls)
            s.srtp = true;
        else
            notes << wrong(keys::MediaEncryption, media, QStringLiteral("needs SipTransport TLS; None is used."));
    } else if (!media.isEmpty() && media.compare(QLatin1String("None"), Qt::CaseInsensitive) != 0) {
        notes << wrong(keys::MediaEncryption, media, QStringLiteral("is not None or SRTP; None is used."));
    }
    s.srtpMandatory = flag(value, keys::MediaEncryptionMandatory, false, notes) && s.srtp;

    const QString stun = value(keys::StunServer).trimmed();
    if (isHostPort(stun))
        s.stunServer = stun;
    else if (!stun.isEmpty())
        notes << wrong(keys::StunServer, stun, QStringLiteral("is not host:port; no STUN server is used."));
    s.ice = flag(value, keys::IceEnabled, false, notes);
    if (s.ice && s.stunServer.isEmpty()) {
        s.ice = false;
        notes << QStringLiteral("IceEnabled: ICE needs a StunServer; False is used.");
    }

    QStringList wrongSources;
    for (const QString& word :
         value(keys::SipAllowFrom).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        (parseNetwork(word) ? s.allowFrom : wrongSources) << word;
    for (const QString& word : wrongSources)
        notes << wrong(keys::SipAllowFrom, word, QStringLiteral("is not an address or network; it is left out."));
    return out;
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
