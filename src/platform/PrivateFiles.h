#pragma once
// The one rule for the modes of what the dialer writes: the settings file holds the SIP password in
// clear and the logs and recordings are customer data, so on a shared machine (a terminal server)
// other users must not read them. A file the dialer creates gets mode 0600, a folder 0700; a file or
// folder that is already there keeps its mode (start-up tightens the install root's own: see
// makePrivate). Every writer opens and creates through these, and every file the dialer rewrites
// whole goes through replaceFile. Header-only and Qt Core only, so the settings, log and engine
// libraries use it without linking more.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <functional>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

// Gives an existing file mode 0600 and an existing folder 0700 (a root made by an older version or
// by hand, a demo root unpacked with the usual modes). False when path exists and cannot be changed.
inline bool makePrivate(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink()) return true; // a link's target is not the dialer's to change
    return QFile::setPermissions(path, info.isDir() ? PrivateFolderMode : PrivateFileMode);
}

// The one way the dialer writes a whole file: write(out) puts the new content into a temporary
// file beside path (unbuffered, so every failed write shows at once: a buffered QSaveFile writes
// its last bytes inside commit() and renames the file even when that write failed), the file is
// synced to disk and then renamed over path. So path holds either its old or its new content,
// never half of it, also after a full disk or a power cut. A new file gets mode 0600, an existing
// one keeps its mode. False when any step failed. With Sync::Later the new content is left to the
// kernel: it outlives the dialer (a kill, a crash), only a power cut may leave the old one.
enum class Sync { Now, Later };
inline bool replaceFile(const QString& path, const std::function<bool(QFileDevice& out)>& write,
                        Sync sync = Sync::Now) {
    QSaveFile out(path);
    if (!openPrivate(out, QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
#ifdef Q_OS_UNIX
    const bool synced = write(out) && (sync == Sync::Later || ::fsync(out.handle()) == 0);
#else
    const bool synced = write(out) && out.flush();
#endif
    if (!synced) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

inline bool replaceFile(const QString& path, const QByteArray& bytes, Sync sync = Sync::Now) {
    return replaceFile(path, [&bytes](QFileDevice& out) { return out.write(bytes) == bytes.size(); }, sync);
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
