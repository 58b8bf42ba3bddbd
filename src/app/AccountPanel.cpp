#include "app/AccountPanel.h"

#include "app/Panels.h"
#include "window/WindowContext.h"
#include "window/WindowTitle.h"
#include "platform/Blanks.h"
#include "platform/ProviderDomain.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

namespace corvid {

namespace {

const QString kSystem = QString::fromLatin1(keys::System);

// Characters from position start (counted from 1), at most count of them.
QString characters(const QString& text, int start, int count) {
    if (start - 1 >= text.size()) return QString();
    return text.mid(start - 1, count);
}

} // namespace

AccountKeys accountKeysFromCode(const QString& code, const QString& providerDomain) {
    AccountKeys keys;
    keys.customerNumber = trimBlanks(code);
    keys.password = characters(code, 11, 10);
    keys.login = characters(code, 7, 4);
    keys.proxy = characters(code, 3, 4) + QLatin1Char('.') + providerDomain;
    return keys;
}

AccountPanel::AccountPanel(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    connect(m_ctx.ui->SaveCustNum, &QPushButton::clicked, this, &AccountPanel::onSaveCustNumClicked);
    connect(m_ctx.ui->editSk1, &QPushButton::clicked, this, &AccountPanel::onEditSk1Clicked);
    connect(m_ctx.ui->custNumCmd, &QAction::triggered, this, &AccountPanel::onCustNumCmdTriggered);
}

void AccountPanel::onSaveCustNumClicked() {
    const QString path = m_ctx.state.settingsPath;
    const QString domain = providerDomain(ReadIniKey(path, kSystem, QString::fromLatin1(keys::ProviderDomain)));
    const QString stored = ReadIniKey(path, kSystem, QString::fromLatin1(keys::customerNumber));
    const AccountKeys account = accountKeysFromCode(UnmaskedCustomerNumber(m_ctx.ui->Text1->text(), stored), domain);
    auto write = [&](const QString& key, const QString& value) { WriteIniKey(path, kSystem, key, value); };
    write(QStringLiteral("customerNumber"), account.customerNumber);
    write(QStringLiteral("Password"), account.password);
    write(QStringLiteral("Login"), account.login);
    write(QStringLiteral("AuthLogin"), account.login);
    write(QStringLiteral("OutBoundProxy"), account.proxy);
    write(QStringLiteral("SIPProxy"), account.proxy);
    write(QStringLiteral("Mon"), QStringLiteral("True"));
    write(QStringLiteral("Userweb"), m_ctx.ui->Text2->text());
    write(QStringLiteral("passweb"), m_ctx.ui->Text3->text());
    // Typed in plain, shown masked once saved.
    m_ctx.ui->Text1->setText(MaskedCustomerNumber(account.customerNumber));

    m_ctx.ui->Frame7->hide();
    m_ctx.timers.webtimer->start();
}

// The monitor list of the supervisor, named after the login, in the desktop's text editor.
void AccountPanel::onEditSk1Clicked() {
    m_ctx.ui->loginTxT->setText(GetProfileKey(kSystem, QString::fromLatin1(keys::Login), m_ctx.state.settingsPath));
    // A login that is not a plain file name names no file in bin/.
    const QString file = m_ctx.root.binFile(m_ctx.ui->loginTxT->text() + QStringLiteral(".txt"));
    if (file.isEmpty() || !m_ctx.services.desktop) return;
    m_ctx.services.desktop->openInTextEditor(file);
}

void AccountPanel::onCustNumCmdTriggered() {
    showPanel(m_ctx, m_ctx.ui->Frame7);
}

} // namespace corvid
