#include "platform/QtServices.h"

#include "platform/Twips.h"
#include "platform/WaylandSession.h"
#ifdef CORVID_WITH_WAYLAND
#include "platform/DataControlClipboard.h"
#endif

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>
#include <QSystemTrayIcon>
#include <QTemporaryFile>
#include <QWidget>

#include <cstdio>
#include <algorithm>
#include <cmath>

namespace corvid {

namespace {

// The top edge of the main window before a message box: 1000 twips.
constexpr int kMessageBoxWindowTopTwips = 1000;

QClipboard* systemClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

} // namespace

// ---- clipboard

QString QtClipboard::text() const {
    QClipboard* clipboard = systemClipboard();
    return clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
}

void QtClipboard::setText(const QString& text) {
    if (QClipboard* clipboard = systemClipboard()) clipboard->setText(text, QClipboard::Clipboard);
}

void QtClipboard::clear() {
    if (QClipboard* clipboard = systemClipboard()) clipboard->clear(QClipboard::Clipboard);
}

bool QtClipboard::seesOtherWindows() const {
    return clipboardSeesOtherWindows(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"), false,
                                     QGuiApplication::platformName(), qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}

void QtClipboard::setChangeHandler(std::function<void()> handler) {
    QObject::disconnect(m_changed);
    QClipboard* clipboard = systemClipboard();
    if (!clipboard || !handler) return;
    m_changed = QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, std::move(handler));
}

// ---- processes

bool QtProcessLauncher::startDetached(const QString& program, const QStringList& arguments) {
    if (program.isEmpty()) return false;
    return QProcess::startDetached(program, arguments);
}

// ---- desktop

bool QtDesktopOpener::openUrl(const QUrl& url) {
    if (!url.isValid() || url.isEmpty()) return false;
    return QDesktopServices::openUrl(url);
}

bool QtDesktopOpener::openInTextEditor(const QString& path) {
    if (path.isEmpty()) return false;
#ifdef Q_OS_WIN
    return QProcess::startDetached(QStringLiteral("notepad.exe"), {QDir::toNativeSeparators(path)});
#else
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
#endif
}

// ---- message boxes

QtMessageBoxes::QtMessageBoxes(QString title) : m_title(std::move(title)) {}

void QtMessageBoxes::information(QWidget* window, const QString& text) {
    QWidget* topLevel = window ? window->window() : nullptr;
    if (topLevel) topLevel->move(topLevel->x(), twipsToPixels(kMessageBoxWindowTopTwips));

    const QString title = m_title.isEmpty() ? QGuiApplication::applicationDisplayName() : m_title;
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, topLevel);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

// ---- ring sound

// From the program's folder to its installed data (the build's install layout).
#ifndef CORVID_DATA_FROM_BIN
#define CORVID_DATA_FROM_BIN "../share/corvid-dialer"
#endif

QtRingSound::QtRingSound() = default;
QtRingSound::~QtRingSound() = default;

QString LocateSoundFile(const QString& fileName, const QString& workingDir, const QString& programDir) {
    if (fileName.isEmpty()) return QString();
    const QFileInfo given(fileName);
    if (given.isAbsolute()) return given.isFile() ? given.absoluteFilePath() : QString();

    QStringList folders;
    if (!workingDir.isEmpty()) folders << workingDir;
    if (!programDir.isEmpty()) folders << programDir << QDir(programDir).filePath(QStringLiteral(CORVID_DATA_FROM_BIN));
    for (const QString& folder : folders) {
        const QFileInfo candidate(QDir(folder), fileName);
        if (candidate.isFile()) return QDir::cleanPath(candidate.absoluteFilePath());
    }
    return QString();
}

QString QtRingSound::locate(const QString& fileName) {
    return LocateSoundFile(fileName, QDir::currentPath(),
                           QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString());
}

void QtRingSound::startLoop(const QString& fileName) {
    // Like the system's own sound call, a new sound replaces whatever was playing.
    stop();
    const QString path = locate(fileName);
    if (path.isEmpty()) return;
    if (!m_effect) m_effect = std::make_unique<QSoundEffect>();
    m_effect->setSource(QUrl::fromLocalFile(path));
    m_effect->setLoopCount(QSoundEffect::Infinite);
    m_effect->play();
}

void QtRingSound::stop() {
    if (m_effect) m_effect->stop();
}

bool QtRingSound::isPlaying() const {
    return m_effect && m_effect->isPlaying();
}

// 200 ms of 1 kHz, 8 kHz mono 16-bit, written once to a file of the process's own.
void QtRingSound::beep() {
    if (!m_beepFile) {
        auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/corvid-beep-XXXXXX.wav"));
        if (!file->open()) return;
        constexpr int rate = 8000, samples = rate / 5;
        QByteArray pcm;
        for (int n = 0; n < samples; ++n) {
            const double fade = std::min({1.0, n / 80.0, (samples - n) / 80.0});
            const auto v = qint16(9000 * fade * std::sin(2 * M_PI * 1000 * n / rate));
            pcm.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
        }
        const auto le32 = [](quint32 v) {
            return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff) + char((v >> 16) & 0xff) + char(v >> 24);
        };
        const auto le16 = [](quint16 v) { return QByteArray(1, char(v & 0xff)) + char(v >> 8); };
        const QByteArray header = "RIFF" + le32(36 + pcm.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
                                  le32(rate) + le32(rate * 2) + le16(2) + le16(16) + "data" + le32(pcm.size());
        if (file->write(header + pcm) != header.size() + pcm.size() || !file->flush()) return;
        m_beepFile = std::move(file);
    }
    if (!m_beep) m_beep = std::make_unique<QSoundEffect>();
    m_beep->setSource(QUrl::fromLocalFile(m_beepFile->fileName()));
    m_beep->setLoopCount(1);
    m_beep->play();
}

// ---- notifications

QtNotifier::QtNotifier() = default;
QtNotifier::~QtNotifier() = default;

void QtNotifier::notify(QWidget* window, const QString& title, const QString& text) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return;
    if (window) QApplication::alert(window->window());
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    if (!m_tray) {
        m_tray = std::make_unique<QSystemTrayIcon>(window ? window->window()->windowIcon() : QIcon());
        m_tray->show();
    }
    m_tray->showMessage(title, text, QSystemTrayIcon::Information, 10000);
}

// ---- clock

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}

// ---- the set

QtServices::QtServices() = default;
QtServices::~QtServices() = default;

// Asked for once the application exists: the compositor's protocol is used only by a program that
// shows a real window (not offscreen), where a clipboard of the desktop is meant.
Clipboard* QtServices::activeClipboard() {
#ifdef CORVID_WITH_WAYLAND
    const QString platform = QGuiApplication::platformName();
    if (!m_dataControlTried && qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
        (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland")))) {
        m_dataControlTried = true;
        if (auto dataControl = DataControlClipboard::connectToSession()) {
            std::fprintf(stderr, "corvid-dialer: the clipboard is read through the desktop's %s\n",
                         qPrintable(dataControl->protocolName()));
            m_dataControl = std::move(dataControl);
        }
    }
    if (m_dataControl) return m_dataControl.get();
#endif
    return &clipboard;
}

Services QtServices::services() {
    Services set;
    set.clipboard = activeClipboard();
    set.processes = &processes;
    set.desktop = &desktop;
    set.messages = &messages;
    set.ring = &ring;
    set.clock = &clock;
    set.notifier = &notifier;
    return set;
}

} // namespace corvid
