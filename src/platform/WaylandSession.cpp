#include "platform/WaylandSession.h"

#include <QStringList>

namespace corvid {

QByteArray platformForSession(const QByteArray& qpaPlatform, const QByteArray& waylandDisplay,
                              const QByteArray& x11Display) {
    if (!qpaPlatform.trimmed().isEmpty() || waylandDisplay.trimmed().isEmpty()) return {};
    // Each name is a fallback for the other: a session without the Qt Wayland plugin, or one whose
    // Xwayland does not answer, still gets a window.
    return x11Display.trimmed().isEmpty() ? QByteArrayLiteral("wayland;xcb") : QByteArrayLiteral("xcb;wayland");
}

bool clipboardSeesOtherWindows(bool waylandSession, bool dataControl, const QString& platform, const QString& desktop) {
    if (!waylandSession || dataControl) return true;
    // Only a real window system has a focus to lose (offscreen and minimal have none).
    const QString name = platform.toLower();
    if (name != QLatin1String("xcb") && !name.startsWith(QLatin1String("wayland"))) return true;
    if (name == QLatin1String("xcb")) {
        // GNOME's and KDE's compositors hand the clipboard to X clients whatever has the focus;
        // weston and most others do so only for the focused X window.
        for (const QString& part : desktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            const QString d = part.trimmed().toUpper();
            if (d == QLatin1String("GNOME") || d == QLatin1String("KDE")) return true;
        }
    }
    return false;
}

QString clipboardFocusOnlyNotice() {
    return QStringLiteral("This desktop hands the clipboard only to the window that has the focus: a number "
                          "copied in another program is dialled only while the dialer's window has the focus. "
                          "Dial files in the datalink folder, corvid-dial, the HTTP control and D-Bus work "
                          "whatever has the focus.");
}

} // namespace corvid
