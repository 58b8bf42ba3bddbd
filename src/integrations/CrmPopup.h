#pragma once
// The caller-ID pop-up ("PoP CID"): with a CRM user set, the CRM's page for the caller ID opens in
// the desktop's browser; otherwise the number field is handed to a desktop program as a file named
// after the caller ID in the datalink folder, which is cleared of every .txt file ten seconds later.
// Also the "Auto CID" box (kept in AutoCid) and the CRM login frame's "Save/Hide".
//
// A caller ID that cannot be one safe file name (see callerIdFileName) writes no file; the pop-up
// still waits, clears the folder and empties the field, as it does for any other failed step.

#include <QObject>
#include <QString>

namespace corvid {

struct WindowContext;

class CrmPopup : public QObject {
    Q_OBJECT
public:
    explicit CrmPopup(WindowContext& ctx, QObject* parent = nullptr);

    // How long the button stays disabled on each path.
    static constexpr int WebWaitMs = 5000;
    static constexpr int DatalinkWaitMs = 10000;

    // The CRM page's address for the caller-ID field's text, with the host of the CrmHost setting.
    QString crmPageAddressFor(const QString& callerId) const;

    // Handlers.
    void onCIDPushClicked();
    void onCidCheckToggled(bool checked);
    void onSaveHidePushClicked();

private:
    void removeDatalinkTextFiles();

    WindowContext& ctx;
};

} // namespace corvid
