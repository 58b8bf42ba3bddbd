#pragma once
// The two switches that let other desktop programs use the dialer: the click-to-dial box
// (autoCheck, stored in autocall; while it is ticked the clipboard dispatcher dials what is copied)
// and the "Tapi Plugin" button, which starts the bridge program from the install root's apps
// folder and stays disabled for five seconds, so a double press starts it once. On a desktop whose
// clipboard reaches only the focused window, the agent is told once, when clipboard dialing is
// first on and usable, that copies count only while the dialer has the focus.

#include <QObject>

namespace corvid {

struct WindowContext;

class ClickToDial : public QObject {
    Q_OBJECT
public:
    static constexpr int BridgeWaitMs = 5000;

    explicit ClickToDial(WindowContext& ctx, QObject* parent = nullptr);

    void onAutoCheckToggled(bool checked);
    void onTapiPushClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void noteClipboardReach();

    WindowContext& ctx;
    bool m_focusNoticeGiven = false;
    QObject* m_box = nullptr; // compared with, never read through
};

} // namespace corvid
