#pragma once
// The main window's title: the customer number and the version. Set by the window load and again
// by the start-up tick. Header-only, like WindowContext.h, so that subsystems need not link app/.

#include <QMainWindow>
#include <QString>

#include "window/WindowContext.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

namespace corvid {

// The customer number as the window shows it: its characters 11 to 20 are the SIP password, so
// each of them shows as one bullet (screen shares, screenshots, task switchers and screen readers
// see no password). The stored code is not changed.
inline QString MaskedCustomerNumber(const QString& customerNumber) {
    constexpr int first = 10, count = 10; // characters 11 to 20, counted from 1
    QString shown = customerNumber;
    for (int i = first; i < first + count && i < shown.size(); ++i)
        shown[i] = QChar(0x2022);
    return shown;
}

// The code an entry that showed stored masked holds now: each bullet still in characters 11 to 20
// stands for the stored character there, so an entry saved again without retyping keeps the password.
inline QString UnmaskedCustomerNumber(const QString& shown, const QString& stored) {
    QString code = shown;
    for (int i = 10; i < 20 && i < code.size() && i < stored.size(); ++i)
        if (code[i] == QChar(0x2022)) code[i] = stored[i];
    return code;
}

// "Corvid Software" + 14 blanks + "Customer Number - " + number (masked) + 25 blanks + "Ver. " + version
inline QString CustomerWindowTitle(const QString& customerNumber, const QString& version) {
    return QStringLiteral("Corvid Software              Customer Number - ") + MaskedCustomerNumber(customerNumber) +
           QStringLiteral("                         Ver. ") + version;
}

// The title with the customer number as the settings hold it now.
inline void ShowCustomerWindowTitle(WindowContext& ctx) {
    const QString number = ReadIniKey(ctx.state.settingsPath, QString::fromLatin1(keys::System),
                                      QString::fromLatin1(keys::customerNumber));
    if (ctx.window) ctx.window->setWindowTitle(CustomerWindowTitle(number, ctx.state.version));
}

} // namespace corvid
