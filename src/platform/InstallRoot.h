#pragma once
// The install root and every path under it. Resolved once at start-up:
// --root DIR, then $CALLDECK_ROOT, then the platform default (C:\CallDeck or $HOME/CallDeck).

#include <QString>
#include <QStringList>

namespace corvid {

// Paths are absolute and '/'-separated. A file or tool name that is not one plain file name (empty,
// "." or "..", or holding a folder separator) yields an empty path, which no file operation accepts:
// names built from settings or typed text can never reach outside their folder.
class InstallRoot {
public:
    // An empty rootDir resolves the root as resolve() does without arguments.
    explicit InstallRoot(QString rootDir = {});

    // Resolution order: the --root argument (if any), CALLDECK_ROOT, the platform default.
    // Both "--root DIR" and "--root=DIR" are understood; the last one given counts.
    static QString resolve(const QStringList& arguments);

    // True when name is a single file name without any folder part.
    static bool isPlainFileName(const QString& name);

    QString root() const { return m_root; }
    QString bin() const;                            // root/bin
    QString logs() const;                           // root/logs
    QString messages() const;                       // root/messages
    QString datalink() const;                       // root/datalink
    QString apps() const;                           // root/apps
    QString preRecorded() const;                    // root/PreRecordedMessages
    QString binFile(const QString& name) const;     // root/bin/name
    QString logFile(const QString& name) const;     // root/logs/name
    QString settingsFile() const;                   // root/bin/corvidapp.ini
    QString appTool(const QString& baseName) const; // root/apps/baseName (".exe" on Windows)
    QString binTool(const QString& baseName) const; // root/bin/baseName (".exe" on Windows)
    QString engineDataDir() const;                  // root/bin/engine (the SIP library's own files)

    // Creates bin, logs, messages, datalink and PreRecordedMessages when missing (never apps).
    bool createMissingFolders() const;
    // Makes what an older version or a demo root left with the usual modes the agent's alone: the
    // settings file (it holds the SIP password) 0600, bin, bin/calls, logs and messages 0700.
    // False when one of them that exists could not be changed.
    bool makePrivate() const;

private:
    QString m_root;
};

} // namespace corvid
