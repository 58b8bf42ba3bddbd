#pragma once
// What a Wayland desktop session changes for the dialer: which of Qt's platform plugins it runs on,
// and whether its clipboard sees what other programs copy while another window has the focus.
// Plain rules, free of any window system, so that every desktop can be checked in a test.

#include <QByteArray>
#include <QString>

namespace corvid {

// The platform list the dialer asks Qt for, or empty to leave Qt's own choice. The agent's own
// QT_QPA_PLATFORM always wins. In a Wayland session with Xwayland the dialer runs as an X client:
// there it can place its window where the agent left it, and desktops that keep the clipboard from
// unfocused Wayland clients still hand it to X clients. Without Xwayland it runs as a Wayland client.
QByteArray platformForSession(const QByteArray& qpaPlatform, const QByteArray& waylandDisplay,
                              const QByteArray& x11Display);

// Whether copies made in other programs reach the clipboard dispatcher while another window has
// the focus. platform is Qt's platform plugin ("xcb", "wayland", ...); dataControl tells whether the
// compositor lent the dialer its clipboard-manager protocol; desktop is XDG_CURRENT_DESKTOP.
bool clipboardSeesOtherWindows(bool waylandSession, bool dataControl, const QString& platform, const QString& desktop);

// Said once when the clipboard only sees copies while the dialer has the focus.
QString clipboardFocusOnlyNotice();

} // namespace corvid
