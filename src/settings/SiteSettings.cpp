#include "settings/SiteSettings.h"

#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvid::site {

QStringList siteFileCandidates(const QString& xdgConfigDirs) {
    QStringList dirs;
    for (const QString& dir : xdgConfigDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir)) dirs << QDir::cleanPath(dir); // relative entries are invalid there
    if (dirs.isEmpty()) dirs << QStringLiteral("/etc/xdg");
    dirs << QStringLiteral("/etc");
    QStringList files;
    for (const QString& dir : dirs) {
        const QString file = dir + QLatin1Char('/') + QLatin1String(SiteFileName);
        if (!files.contains(file)) files << file;
    }
    return files;
}

QStringList siteFiles() {
    return siteFileCandidates(qEnvironmentVariable("XDG_CONFIG_DIRS"));
}

bool isAgentSettingsFile(const QString& file) {
    return QFileInfo(file).fileName() == QLatin1String(AgentSettingsFileName);
}

QByteArray siteValue(const QByteArray& section, const QByteArray& key) {
    for (const QString& file : siteFiles()) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray value = ini::readKey(f.readAll(), section, key);
        if (!value.isNull()) return value;
    }
    return QByteArray();
}

QStringList unreadableSiteFiles() {
    QStringList unreadable;
    for (const QString& file : siteFiles()) {
        QFile f(file);
        if (QFileInfo::exists(file) && (QFileInfo(file).isDir() || !f.open(QIODevice::ReadOnly))) unreadable << file;
    }
    return unreadable;
}

} // namespace corvid::site
