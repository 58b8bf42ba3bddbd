#pragma once
// The one rule for the modes of what the dialer writes: the settings file holds the SIP password in
// clear and the logs and recordings are customer data, so on a shared machine (a terminal server)
// other users must not read them. A file the dialer creates gets mode 0600, a folder 0700; a file or
// folder that is already there keeps its mode. Every writer opens and creates through these.
// Header-only and Qt Core only, so the settings, log and engine libraries use it without linking more.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace corvid {

inline constexpr QFileDevice::Permissions PrivateFileMode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
inline constexpr QFileDevice::Permissions PrivateFolderMode =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Opens file; when the open creates it, it is created with mode 0600.
inline bool openPrivate(QFile& file, QIODevice::OpenMode mode) {
    return file.open(mode, PrivateFileMode);
}

// Opens a file that replaces its target on commit(): an existing target's mode carries over to
// the new file, a new target gets mode 0600.
inline bool openPrivate(QSaveFile& file, QIODevice::OpenMode mode) {
    const bool existed = QFileInfo::exists(file.fileName());
    if (!file.open(mode)) return false;
    if (!existed) file.setPermissions(PrivateFileMode);
    return true;
}

// Makes path and every missing folder above it, each new one with mode 0700. True when path is a
// folder afterwards.
inline bool makePrivatePath(const QString& path) {
    if (path.isEmpty()) return false;
    QString dir = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    while (!QFileInfo(dir).exists()) {
        missing.prepend(dir);
        const QString parent = QFileInfo(dir).absolutePath();
        if (parent == dir) break;
        dir = parent;
    }
    for (const QString& folder : missing) {
        // Another writer may make it meanwhile: only the result counts.
        if (!QDir().mkdir(folder, PrivateFolderMode) && !QFileInfo(folder).isDir()) return false;
    }
    return QFileInfo(path).isDir();
}

// Gives a file that a library wrote (with the usual mode) the private mode, when it was new.
inline void makePrivateIfNew(const QString& path, bool existedBefore) {
    if (!existedBefore && QFileInfo::exists(path)) QFile::setPermissions(path, PrivateFileMode);
}

// Whether users other than the owner may read the file.
inline bool readableByOthers(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther));
}

} // namespace corvid
