#pragma once
// The settings that say how the phone reaches its proxy and protects its calls: SipTransport,
// TlsCaFile, TlsVerify, MediaEncryption, MediaEncryptionMandatory, StunServer, IceEnabled and
// SipAllowFrom, all in
// section System of the main settings file and all optional. With none of them set the phone speaks
// clear SIP over UDP with clear RTP. A wrong value gives one note naming the key, and its default is
// used.

#include "engine/SipSecurity.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace corvid {

struct SecuritySettings {
    SipSecurity security;
    // One status-log line per wrong or unusable value, in the order of the keys above.
    QStringList notes;
    // Over TLS with TlsVerify=False: the line that says so (empty otherwise). It stays true as long
    // as the phone is online, so the window shows it again after the log is cleared.
    QString unverifiedNote;
};

// The rule on the keys' texts. value(key) answers a key's text ("" when absent); fileReadable(path)
// whether a CA file can be read.
SecuritySettings parseSecuritySettings(const std::function<QString(const char* key)>& value,
                                       const std::function<bool(const QString& path)>& fileReadable);

// The keys as the settings file holds them now, read like every other key read when going online.
SecuritySettings SecuritySettingsFrom(const QString& settingsFile);

} // namespace corvid
