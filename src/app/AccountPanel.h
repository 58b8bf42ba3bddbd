#pragma once
// The account panel Frame7: the customer number from which the SIP account is derived, saved to the
// settings; the "Customer Number" menu entry that shows the panel; the monitor-list edit button.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

// The settings the account save writes, in the order it writes them.
struct AccountKeys {
    QString customerNumber; // the code without blanks around it
    QString password;       // characters 11 to 20
    QString login;          // characters 7 to 10 (also the authentication login)
    QString proxy;          // characters 3 to 6, ".", the provider domain (SIP proxy and outbound proxy)
};

// Cuts the code as typed: the characters are counted in the untrimmed text, so a leading blank
// shifts them, and a short code gives short or empty values.
AccountKeys accountKeysFromCode(const QString& code, const QString& providerDomain);

class AccountPanel : public QObject {
    Q_OBJECT
public:
    explicit AccountPanel(WindowContext& ctx, QObject* parent = nullptr);

    void onSaveCustNumClicked();
    void onEditSk1Clicked();
    void onCustNumCmdTriggered();

private:
    WindowContext& m_ctx;
};

} // namespace corvid
