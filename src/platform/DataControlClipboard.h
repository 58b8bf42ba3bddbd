#pragma once
// The clipboard of a Wayland session read and written as a clipboard manager does: through the
// compositor's data-control protocol (ext-data-control-v1, or wlr-data-control-unstable-v1), which
// hands every new selection to the dialer whichever window has the focus. A connection of its own to
// the compositor, apart from Qt's, so it works whether Qt runs on Wayland or on Xwayland.
//
// Everything runs on the GUI thread's event loop: the compositor's socket and the pipe of each
// transfer are watched by socket notifiers, and nothing ever waits on them.

#include "platform/Services.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;
struct wl_display;
struct wl_registry;
struct wl_proxy;
struct wl_interface;

namespace corvid {

class DataControlClipboard : public QObject, public Clipboard {
    Q_OBJECT
public:
    // Connects to the session's compositor (WAYLAND_DISPLAY). Null when there is none, or when it
    // offers neither data-control protocol nor a seat.
    static std::unique_ptr<DataControlClipboard> connectToSession();
    ~DataControlClipboard() override;

    QString text() const override;
    void setText(const QString& text) override;
    void clear() override;
    void setChangeHandler(std::function<void()> handler) override;
    bool seesOtherWindows() const override { return true; }

    QString protocolName() const; // the global bound, for the notes on stderr

    // What the dialer's registry listener and event handlers touch; not for other code.
    struct Protocol;
    struct Raw;

private:
    explicit DataControlClipboard(wl_display* display);
    bool bindGlobals();
    void onDisplayReadable();
    void flush();
    void lost();
    void takeSelection(wl_proxy* offer);
    void abortRead();
    void onPipeReadable();
    void finishRead();
    void destroyOffer(wl_proxy* offer);
    void serve(wl_proxy* source, const char* mimeType, int fd);
    void dropSource(wl_proxy* source);

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_proxy* m_seat = nullptr;
    wl_proxy* m_manager = nullptr;
    wl_proxy* m_device = nullptr;
    const Protocol* m_protocol = nullptr;
    QSocketNotifier* m_displayNotifier = nullptr;

    std::map<wl_proxy*, QByteArray> m_offers; // offers announced, with their best text type
    wl_proxy* m_selection = nullptr;          // the offer of the current selection
    int m_readFd = -1;
    QSocketNotifier* m_readNotifier = nullptr;
    QByteArray m_incoming;
    QByteArray m_incomingType;

    std::map<wl_proxy*, QByteArray> m_sources; // our own selections, with their text
    QString m_text;
    std::function<void()> m_handler;

    friend struct Raw;
};

} // namespace corvid
