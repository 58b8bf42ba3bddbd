#pragma once
// The automation journal, root/logs/automation.log: one line per request the datalink poll or the
// clipboard dispatcher took, saying what became of it. A line is
//   yyyy-MM-dd HH:mm:ss.zzz <TAB> channel <TAB> request <TAB> outcome <CR LF>
// written by one open-append-write-close. When the file would pass maxBytes it becomes
// automation.log.1 (replacing the older one) and a new file starts, so the journal never holds
// more than about twice maxBytes.

#include <QDateTime>
#include <QString>

namespace corvid {

class AutomationJournal {
public:
    static constexpr qint64 DefaultMaxBytes = 1024 * 1024;

    explicit AutomationJournal(QString path = {}, qint64 maxBytes = DefaultMaxBytes)
        : m_path(std::move(path)), m_maxBytes(maxBytes) {}

    void setPath(const QString& path) { m_path = path; }
    QString path() const { return m_path; }
    QString rotatedPath() const { return m_path + QStringLiteral(".1"); }

    // channel and request are made safe for one field (see journalField); answers whether the
    // line reached the file.
    bool append(const QDateTime& when, const QString& channel, const QString& request, const QString& outcome);

private:
    QString m_path;
    qint64 m_maxBytes;
};

} // namespace corvid
