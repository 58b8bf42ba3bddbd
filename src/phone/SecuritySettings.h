#pragma once
// The settings that say how the phone reaches its proxy and protects its calls: SipTransport,
// TlsCaFile, TlsVerify, MediaEncryption, MediaEncryptionMandatory, StunServer, IceEnabled,
// SipAllowFrom, and the keep-alive and registrar intervals SipKeepAliveSeconds,
// RegistrarCheckSeconds and RegistrarRefreshSeconds, all in section System of the main settings file and all optional. With none of them set the phone speaks
// clear SIP over UDP with clear RTP. A mistake never gives clear text silently: a value the dialer
// does not know in SipTransport, TlsVerify, MediaEncryption, MediaEncryptionMandatory or IceEnabled,
// and SRTP asked for without TLS, stop going online with one line naming the key and the value.
// The other keys (TlsCaFile, StunServer) keep their lenient rule: one note, and the default.

#include "engine/SipSecurity.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace corvid {

struct SecuritySettings {
    SipSecurity security;
    // One status-log line per wrong or unusable value of a lenient key, in the order of the keys above.
    QStringList notes;
    // One line per security key that stops going online, in the order of the keys above.
    QStringList errors;
    // Over TLS with TlsVerify=False: the line that says so (empty otherwise). It stays true as long
    // as the phone is online, so the window shows it again after the log is cleared.
    QString unverifiedNote;
};

// The rule on the keys' texts. value(key) answers a key's text ("" when absent); fileReadable(path)
// whether a CA file can be read.
SecuritySettings parseSecuritySettings(const std::function<QString(const char* key)>& value,
                                       const std::function<bool(const QString& path)>& fileReadable);

// How the window names the connection's security: "TLS", "TLS, server not verified" or "not
// encrypted".
QString connectionSecurityText(const SipSecurity& security);

// The keys as the settings file holds them now, read like every other key read when going online.
SecuritySettings SecuritySettingsFrom(const QString& settingsFile);

} // namespace corvid
