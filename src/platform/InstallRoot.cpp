#include "platform/InstallRoot.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include "platform/PrivateFiles.h"

namespace corvid {

namespace {

const QString kRootOption = QStringLiteral("--root");
const char kRootVariable[] = "CALLDECK_ROOT";

QString toolSuffix() {
#ifdef Q_OS_WIN
    return QStringLiteral(".exe");
#else
    return QString();
#endif
}

// Absolute, '/'-separated, without "." and ".." steps: every later path is built from it, and the
// working folder may change after start-up.
QString normalised(const QString& dir) {
    return QDir::cleanPath(QDir(QDir::fromNativeSeparators(dir)).absolutePath());
}

QString platformDefault() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:/CallDeck");
#else
    return QDir::homePath() + QStringLiteral("/CallDeck");
#endif
}

} // namespace

InstallRoot::InstallRoot(QString rootDir) : m_root(rootDir.isEmpty() ? resolve(QStringList()) : normalised(rootDir)) {}

QString InstallRoot::resolve(const QStringList& arguments) {
    QString fromArguments;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == kRootOption && i + 1 < arguments.size()) {
            fromArguments = arguments.at(++i);
        } else if (argument.startsWith(kRootOption + QLatin1Char('='))) {
            fromArguments = argument.mid(kRootOption.size() + 1);
        }
    }
    if (!fromArguments.isEmpty()) return normalised(fromArguments);

    const QString fromEnvironment = qEnvironmentVariable(kRootVariable);
    if (!fromEnvironment.isEmpty()) return normalised(fromEnvironment);

    return normalised(platformDefault());
}

bool InstallRoot::isPlainFileName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QChar(0))) return false;
#ifdef Q_OS_WIN
    if (name.contains(QLatin1Char(':'))) return false;
#endif
    return true;
}

QString InstallRoot::bin() const {
    return m_root + QStringLiteral("/bin");
}
QString InstallRoot::logs() const {
    return m_root + QStringLiteral("/logs");
}
QString InstallRoot::messages() const {
    return m_root + QStringLiteral("/messages");
}
QString InstallRoot::datalink() const {
    return m_root + QStringLiteral("/datalink");
}
QString InstallRoot::apps() const {
    return m_root + QStringLiteral("/apps");
}
QString InstallRoot::preRecorded() const {
    return m_root + QStringLiteral("/PreRecordedMessages");
}

QString InstallRoot::binFile(const QString& name) const {
    return isPlainFileName(name) ? bin() + QLatin1Char('/') + name : QString();
}

QString InstallRoot::logFile(const QString& name) const {
    return isPlainFileName(name) ? logs() + QLatin1Char('/') + name : QString();
}

QString InstallRoot::settingsFile() const {
    return binFile(QStringLiteral("corvidapp.ini"));
}

QString InstallRoot::appTool(const QString& baseName) const {
    return isPlainFileName(baseName) ? apps() + QLatin1Char('/') + baseName + toolSuffix() : QString();
}

QString InstallRoot::binTool(const QString& baseName) const {
    return isPlainFileName(baseName) ? bin() + QLatin1Char('/') + baseName + toolSuffix() : QString();
}

QString InstallRoot::engineDataDir() const {
    return bin() + QStringLiteral("/engine");
}

bool InstallRoot::createMissingFolders() const {
    bool allThere = true;
    for (const QString& folder : {bin(), logs(), messages(), datalink(), preRecorded()}) {
        if (!makePrivatePath(folder)) allThere = false;
    }
    return allThere;
}

bool InstallRoot::makePrivate() const {
    bool all = true;
    for (const QString& path : {settingsFile(), bin(), binFile(QStringLiteral("calls")), logs(), messages()})
        if (!corvid::makePrivate(path)) all = false;
    return all;
}

} // namespace corvid
