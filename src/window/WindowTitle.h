#pragma once
// The main window's title: the customer number and the version. Set by the window load and again
// by the start-up tick. Header-only, like WindowContext.h, so that subsystems need not link app/.

#include <QMainWindow>
#include <QString>

#include "window/WindowContext.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

namespace corvid {

// "Corvid Software" + 14 blanks + "Customer Number - " + number + 25 blanks + "Ver. " + version
inline QString CustomerWindowTitle(const QString& customerNumber, const QString& version) {
    return QStringLiteral("Corvid Software              Customer Number - ") + customerNumber +
           QStringLiteral("                         Ver. ") + version;
}

// The title with the customer number as the settings hold it now.
inline void ShowCustomerWindowTitle(WindowContext& ctx) {
    const QString number = ReadIniKey(ctx.state.settingsPath, QString::fromLatin1(keys::System),
                                      QString::fromLatin1(keys::customerNumber));
    if (ctx.window) ctx.window->setWindowTitle(CustomerWindowTitle(number, ctx.state.version));
}

} // namespace corvid
