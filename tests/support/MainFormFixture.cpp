#include "MainFormFixture.h"

#include "app/Shutdown.h"
#include "integrations/PbxPage.h"
#include "settings/IniFile.h"
#include "ui_MainForm.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace corvid::test {

MainFormFixture::MainFormFixture() : m_root(m_dir.path()) {
    m_root.createMissingFolders();
}

MainFormFixture::~MainFormFixture() = default;

void MainFormFixture::writeFile(const QString& relativePath, const QByteArray& bytes) const {
    const QString path = m_dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // As the dialer makes its files: the owner's alone.
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        file.write(bytes);
}

QByteArray MainFormFixture::readFile(const QString& relativePath) const {
    QFile file(m_dir.filePath(relativePath));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool MainFormFixture::fileExists(const QString& relativePath) const {
    return QFileInfo::exists(m_dir.filePath(relativePath));
}

void MainFormFixture::writeSettings(const QList<QPair<QString, QString>>& entries) const {
    QByteArray text = "[System]\r\n";
    for (const auto& entry : entries)
        text += entry.first.toUtf8() + '=' + entry.second.toUtf8() + "\r\n";
    writeFile(QStringLiteral("bin/corvidapp.ini"), text);
}

void MainFormFixture::setSetting(const InstallRoot& root, const QString& key, const QString& value) {
    WriteIniKey(root.settingsFile(), QStringLiteral("System"), key, value);
}

QString MainFormFixture::setting(const InstallRoot& root, const QString& key) {
    return ReadIniKey(root.settingsFile(), QStringLiteral("System"), key);
}

QStringList MainFormFixture::statusLog(const Ui::MainForm& ui) {
    return texts(ui.ListStatusLog);
}

QStringList MainFormFixture::texts(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        lines << list->item(i)->text();
    return lines;
}

QStringList treeOf(const QString& dir, bool withSizesAndTimes) {
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries << QDir(dir).relativeFilePath(info.filePath());
        if (withSizesAndTimes)
            entries.last() += QStringLiteral(" %1 %2").arg(info.isDir() ? -1 : info.size()).arg(info.lastModified().toMSecsSinceEpoch());
    }
    entries.sort();
    return entries;
}

MainForm& MainFormFixture::create(SipEngine* engine) {
    m_window = std::make_unique<MainForm>(m_root, fakes.services(), engine);
    m_window->shutdown().setForceQuit([this] { ++forceQuitCalls; });
    // No page leaves the machine in tests; PbxPage::lastRequestedUrl() tells which one was asked for.
    if (PbxPage* page = m_window->context().subsystems.pbxPage) page->setPageLoader([](const QUrl&) {});
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get())) qWarning("the main window was not exposed");
    return *m_window;
}

} // namespace corvid::test
