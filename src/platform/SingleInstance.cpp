#include "platform/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include "platform/PrivateFiles.h"

namespace corvid {

SingleInstance::SingleInstance(const QString& rootDir)
    : m_rootDir(rootDir), m_lockFilePath(QDir(rootDir).filePath(lockFileName())),
      m_lock(std::make_unique<QLockFile>(m_lockFilePath)) {
    // Never stale by age: an instance may run for weeks. A lock is stale only when its process is gone.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default; // QLockFile removes its file when held

QString SingleInstance::lockFileName() {
    return QStringLiteral(".corvid-dialer.lock");
}

bool SingleInstance::isHeld() const {
    return m_lock->isLocked();
}

SingleInstance::Result SingleInstance::tryAcquire() {
    if (m_lock->isLocked()) return Result::Acquired;
    if (m_lock->tryLock(0)) return Result::Acquired;
    if (m_lock->error() == QLockFile::LockFailedError) return Result::HeldByAnother;

    // First start on a new root: no instance can run there yet, so the root folder alone is made.
    if (!QFileInfo::exists(m_rootDir) && makePrivatePath(m_rootDir)) {
        if (m_lock->tryLock(0)) return Result::Acquired;
        if (m_lock->error() == QLockFile::LockFailedError)
            return Result::HeldByAnother; // another instance made the same root at the same moment
    }
    return Result::Unavailable;
}

} // namespace corvid
