#pragma once
// Recording fakes of the desktop services (platform/Services.h) for tests. Header-only: a test
// that uses them links only corvid_platform.

#include "platform/Services.h"
#include "platform/Twips.h"

#include <QDateTime>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>
#include <QWidget>

#include <functional>

namespace corvid {

class FakeClipboard : public Clipboard {
public:
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text, changed(); }
    void clear() override { m_text.clear(), changed(); }
    void setChangeHandler(std::function<void()> handler) override { m_handler = std::move(handler); }

    void put(const QString& text) { m_text = text, changed(); } // as if another program had copied it

private:
    void changed() {
        if (m_handler) m_handler();
    }
    QString m_text;
    std::function<void()> m_handler;
};

class FakeProcessLauncher : public ProcessLauncher {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };

    bool startDetached(const QString& program, const QStringList& arguments = {}) override {
        starts.append({program, arguments});
        return true;
    }

    QVector<Start> starts;
};

class FakeDesktopOpener : public DesktopOpener {
public:
    bool openUrl(const QUrl& url) override { return urls.append(url), true; }
    bool openInTextEditor(const QString& path) override { return editedFiles.append(path), true; }

    QVector<QUrl> urls;
    QStringList editedFiles;
};

class FakeMessageBoxes : public MessageBoxes {
public:
    // Does what the real service does before its box: the window's top goes to 1000 twips (67 px).
    void information(QWidget* window, const QString& text) override {
        if (QWidget* topLevel = window ? window->window() : nullptr) topLevel->move(topLevel->x(), twipsToPixels(1000));
        boxes.append(text);
    }
    QStringList texts() const { return boxes; }

    QStringList boxes; // the texts of the boxes shown, in order
};

class FakeRingSound : public RingSound {
public:
    void startLoop(const QString&) override { m_playing = true; }
    void stop() override { m_playing = false; }
    bool isPlaying() const override { return m_playing; }
    void beep() override { ++beeps; }

    int beeps = 0;

private:
    bool m_playing = false;
};

class FakeNotifier : public Notifier {
public:
    void notify(QWidget*, const QString& title, const QString& text) override { shown << title + ": " + text; }
    QStringList shown;
};

class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime start = QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9))) : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }

    void set(const QDateTime& when) { m_now = when; }

private:
    QDateTime m_now;
};

// One fake of each, owned together; services() hands them out as the set the subsystems take.
struct FakeServices {
    FakeClipboard clipboard;
    FakeProcessLauncher processes;
    FakeDesktopOpener desktop;
    FakeMessageBoxes messages;
    FakeRingSound ring;
    FixedClock clock;
    FakeNotifier notifier;

    Services services() {
        Services set;
        set.clipboard = &clipboard;
        set.processes = &processes;
        set.desktop = &desktop;
        set.messages = &messages;
        set.ring = &ring;
        set.clock = &clock;
        set.notifier = &notifier;
        return set;
    }
};

} // namespace corvid
