#pragma once
// The main window's form and context without MainForm's wiring: the Designer widgets, the window's
// timers with their design-time intervals, a FakeEngine, the fake desktop services and a temporary
// install root. Tests construct only the subsystems they look at on top of it, so a handler's
// effects can be checked without the rest of the window reacting. Header-only.

#include "FakeEngine.h"
#include "FakePlatform.h"

#include "app/WindowContext.h"
#include "settings/IniFile.h"
#include "ui_MainForm.h"

#include <QMainWindow>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace corvid::test {

struct BareWindow {
    QTemporaryDir dir;
    QMainWindow window;
    Ui::MainForm ui;
    FakeEngine engine;
    FakeServices fakes;
    WindowContext ctx;

    BareWindow() {
        ui.setupUi(&window);
        ctx.window = &window;
        ctx.ui = &ui;
        ctx.engine = &engine;
        ctx.root = InstallRoot(dir.path());
        ctx.root.createMissingFolders();
        ctx.services = fakes.services();
        ctx.state.settingsPath = ctx.root.settingsFile();
        WindowTimers& t = ctx.timers;
        t.webtimer = timer("webtimer", 2000, true);
        t.OnLineTimer = timer("OnLineTimer", 1000, true);
        t.TapiSip = timer("TapiSip", 500, false);
        t.DialTimer = timer("DialTimer", 500, false);
        t.TimerTick = timer("TimerTick", 1000, false);
        t.TimerProgressBar = timer("TimerProgressBar", 20, false);
        t.CallTimer = timer("CallTimer", 1000, false);
        t.logCleanTimer = timer("logCleanTimer", 500, true);
        t.TimeTimer = timer("TimeTimer", 1000, false);
    }

    QString settingsFile() const { return ctx.root.settingsFile(); }
    void setSetting(const QString& key, const QString& value) {
        WriteIniKey(settingsFile(), QStringLiteral("System"), key, value);
    }
    QString setting(const QString& key) const { return ReadIniKey(settingsFile(), QStringLiteral("System"), key); }

    // The account keys as the account save writes them for a 20-character customer number.
    void saveAccount(const QString& customerNumber, const QString& domain = QStringLiteral("corvidvoice.net")) {
        setSetting(QStringLiteral("customerNumber"), customerNumber.trimmed());
        setSetting(QStringLiteral("Password"), customerNumber.mid(10, 10));
        setSetting(QStringLiteral("Login"), customerNumber.mid(6, 4));
        setSetting(QStringLiteral("AuthLogin"), customerNumber.mid(6, 4));
        setSetting(QStringLiteral("OutBoundProxy"), customerNumber.mid(2, 4) + QLatin1Char('.') + domain);
        setSetting(QStringLiteral("SIPProxy"), customerNumber.mid(2, 4) + QLatin1Char('.') + domain);
        setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
    }

    QStringList statusLog() const {
        QStringList lines;
        for (int i = 0; i < ui.ListStatusLog->count(); ++i)
            lines << ui.ListStatusLog->item(i)->text();
        return lines;
    }

private:
    QTimer* timer(const char* name, int ms, bool singleShot) {
        auto* t = new QTimer(&window);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(ms);
        t->setSingleShot(singleShot);
        return t;
    }
};

} // namespace corvid::test
