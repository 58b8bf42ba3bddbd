#pragma once
// The previous-instance test: one running dialer per install root.

#include <QString>

#include <memory>

class QLockFile;

namespace corvid {

// A lock file in the install root, held for the life of this object. A lock left behind by a crashed
// instance is recovered (its process is gone), and dialers with different roots run side by side.
//
// tryAcquire() is meant to be the first thing the program does with its root: when another instance
// holds the lock it reads the lock file and changes nothing. Only when the root folder itself does
// not exist yet does it create that one folder (nothing inside it but the lock file).
class SingleInstance {
public:
    enum class Result {
        Acquired,      // this is the only instance for the root
        HeldByAnother, // a running instance holds the lock: the caller ends itself
        Unavailable,   // the lock file cannot be written (unwritable or impossible root)
    };

    explicit SingleInstance(const QString& rootDir);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Result tryAcquire();
    bool isHeld() const;
    QString lockFilePath() const { return m_lockFilePath; }

    static QString lockFileName(); // ".corvid-dialer.lock"

private:
    QString m_rootDir;
    QString m_lockFilePath;
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace corvid
