#pragma once
// The main window's form and context without MainForm's wiring: the Designer widgets, the window's
// timers, a FakeEngine, the fake desktop services and a temporary install root. Tests construct
// only the subsystems they look at on top of it, so a handler's effects can be checked without the
// rest of the window reacting. Header-only.

#include "FakeEngine.h"
#include "MainFormFixture.h"

#include "app/AccountPanel.h"
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

    // The account panel's save of a customer number, without the page load its web timer starts.
    void saveAccount(const QString& customerNumber) {
        ui.Text1->setText(customerNumber);
        AccountPanel(ctx).onSaveCustNumClicked();
        ctx.timers.webtimer->stop();
    }
};

} // namespace corvid::test
