#pragma once
// The main window's form and context without MainForm's wiring: the Designer widgets, the window's
// timers, a FakeEngine, the fake desktop services and a temporary install root. Tests construct
// only the subsystems they look at on top of it, so a handler's effects can be checked without the
// rest of the window reacting. Header-only.

#include "FakeEngine.h"
#include "MainFormFixture.h"

#include "app/MainForm.h"
#include "ui_MainForm.h"

#include <QMainWindow>
#include <QTemporaryDir>

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
        ctx.timers = MainForm::createTimers(&window);
    }

    void setSetting(const QString& key, const QString& value) { MainFormFixture::setSetting(ctx.root, key, value); }
    QString setting(const QString& key) const { return MainFormFixture::setting(ctx.root, key); }
    QStringList statusLog() const { return MainFormFixture::statusLog(ui); }

    // The account keys as the account save writes them for a 20-character customer number.
    void saveAccount(const QString& customerNumber) {
        const QString proxy = customerNumber.mid(2, 4) + QStringLiteral(".corvidvoice.net");
        setSetting(QStringLiteral("customerNumber"), customerNumber);
        setSetting(QStringLiteral("Password"), customerNumber.mid(10, 10));
        setSetting(QStringLiteral("Login"), customerNumber.mid(6, 4));
        setSetting(QStringLiteral("AuthLogin"), customerNumber.mid(6, 4));
        setSetting(QStringLiteral("OutBoundProxy"), proxy);
        setSetting(QStringLiteral("SIPProxy"), proxy);
        setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
    }
};

} // namespace corvid::test
