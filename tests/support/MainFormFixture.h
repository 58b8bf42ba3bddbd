#pragma once
// The real MainForm, built offscreen on a temporary install root with the fake desktop services
// and an optional engine. Prepare the root's files first, then create() the window: its start-up
// reads them. ForceQuit is observed (forceQuitCalls) instead of ending the test process.

#include "FakePlatform.h"

#include "app/MainForm.h"
#include "platform/InstallRoot.h"

#include <QByteArray>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace corvid::test {

class MainFormFixture {
public:
    MainFormFixture();
    ~MainFormFixture();

    // Writes bytes to root/relativePath (folders made as needed).
    void writeFile(const QString& relativePath, const QByteArray& bytes) const;
    QByteArray readFile(const QString& relativePath) const;
    bool fileExists(const QString& relativePath) const;
    // Writes settings as "[System]" and "key=value" lines ending in CR LF to bin/corvidapp.ini.
    void writeSettings(const QList<QPair<QString, QString>>& entries) const;

    // Builds and shows the window (start-up runs). engine may be null.
    MainForm& create(SipEngine* engine = nullptr);
    MainForm& window() const { return *m_window; }
    WindowContext& ctx() const { return m_window->context(); }
    Ui::MainForm& ui() const { return *m_window->form(); }

    template <typename T = QObject> T* find(const QString& objectName) const {
        return m_window ? m_window->findChild<T*>(objectName) : nullptr;
    }

    QString rootPath() const { return m_dir.path(); }
    const InstallRoot& root() const { return m_root; }

    // A key of the settings file's [System] section, before or after create().
    void setSetting(const QString& key, const QString& value) const { setSetting(m_root, key, value); }
    QString setting(const QString& key) const { return setting(m_root, key); }
    QStringList statusLog() const { return statusLog(ui()); }
    // The same for any root and form (BareWindow).
    static void setSetting(const InstallRoot& root, const QString& key, const QString& value);
    static QString setting(const InstallRoot& root, const QString& key);
    static QStringList statusLog(const Ui::MainForm& ui);
    // The texts of a list's items, in order.
    static QStringList texts(const QListWidget* list);

    FakeServices fakes;
    int forceQuitCalls = 0;

private:
    QTemporaryDir m_dir;
    InstallRoot m_root;
    std::unique_ptr<MainForm> m_window;
};

// Every file and folder below dir (relative paths), sorted; with their sizes and modification times
// when asked.
QStringList treeOf(const QString& dir, bool withSizesAndTimes = false);

} // namespace corvid::test
