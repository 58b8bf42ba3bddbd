#pragma once
// Site-wide defaults: one file an administrator writes for every agent of a host or a floor,
// corvid-dialer/site.ini (section [System], the same keys as an agent's bin/corvidapp.ini).
//
// Where it is looked for, first found first: every folder of $XDG_CONFIG_DIRS (":"-separated;
// "/etc/xdg" when unset or empty), then /etc. So with the default environment the file is
// /etc/corvid-dialer/site.ini, and a test or a packaged session can put another folder first.
//
// The layers, per key: the agent's own settings file wins whenever it holds the key (even with an
// empty value, so a value an agent cleared stays cleared); then the site files in the order above;
// then the caller's built-in default. The readers of IniFile.h apply this to every read of an
// agent's settings file (a file named corvidapp.ini), so a key added later gets its site default
// without any code of its own. The site file is read with the one reading of the format (IniFile.h:
// a byte-order mark, any line ends, blanks around names and values, quotes), since administrators
// write it with ordinary editors. Nothing in the program ever writes or creates it. A site file
// that exists but cannot be read is skipped by the readers; going online says so (it may hold the
// site's security keys).

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvid::site {

// The agent's settings file name (bin/corvidapp.ini) whose reads fall back to the site file.
constexpr const char AgentSettingsFileName[] = "corvidapp.ini";
// The site file's path below each configuration folder.
constexpr const char SiteFileName[] = "corvid-dialer/site.ini";

// The candidate site files for an $XDG_CONFIG_DIRS value, in lookup order (they need not exist).
QStringList siteFileCandidates(const QString& xdgConfigDirs);
// The candidates for the process's environment.
QStringList siteFiles();

// True when reads of file fall back to the site file.
bool isAgentSettingsFile(const QString& file);

// The site default of key in section: the raw bytes of the first site file that holds it, null
// when none does.
QByteArray siteValue(const QByteArray& section, const QByteArray& key);

// The site files that exist but cannot be read (a folder, no read permission), in lookup order.
QStringList unreadableSiteFiles();

} // namespace corvid::site
