#include "platform/DataControlClipboard.h"

#include <QSocketNotifier>

#include <wayland-client.h>

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace corvid {

struct DataControlClipboard::Protocol {
    const char* global;
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
};

namespace {

// The standard protocol first; the older one has the same requests and events in the same order,
// so one set of opcodes and handlers serves both.
const DataControlClipboard::Protocol kProtocols[] = {
    {"ext_data_control_manager_v1", &ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
     &ext_data_control_source_v1_interface, &ext_data_control_offer_v1_interface},
    {"zwlr_data_control_manager_v1", &zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
     &zwlr_data_control_source_v1_interface, &zwlr_data_control_offer_v1_interface},
};

enum : uint32_t { ManagerCreateDataSource = 0, ManagerGetDataDevice = 1, ManagerDestroy = 2 };
enum : uint32_t { DeviceSetSelection = 0, DeviceDestroy = 1 };
enum : uint32_t { SourceOffer = 0, SourceDestroy = 1 };
enum : uint32_t { OfferReceive = 0, OfferDestroy = 1 };

// The text types of a selection, best first; the last two are Latin-1.
const char* const kTextTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};
constexpr int kLatin1From = 3;

int textRank(const char* type) {
    for (int i = 0; i < int(std::size(kTextTypes)); ++i)
        if (type && std::strcmp(type, kTextTypes[i]) == 0) return i;
    return -1;
}

// A request or clipboard record is a few dozen characters; more is kept up to this and the rest
// is read and dropped, so a huge copy costs no memory.
constexpr int kMaxTextBytes = 64 * 1024;

uint32_t versionOf(wl_proxy* proxy) {
    return wl_proxy_get_version(proxy);
}

void destroyProxy(wl_proxy* proxy, uint32_t opcode) {
    if (proxy) wl_proxy_marshal_flags(proxy, opcode, nullptr, versionOf(proxy), WL_MARSHAL_FLAG_DESTROY);
}

} // namespace

struct DataControlClipboard::Raw {
    struct DeviceListener {
        void (*dataOffer)(void*, wl_proxy*, wl_proxy*);
        void (*selection)(void*, wl_proxy*, wl_proxy*);
        void (*finished)(void*, wl_proxy*);
        void (*primarySelection)(void*, wl_proxy*, wl_proxy*);
    };
    struct OfferListener {
        void (*offer)(void*, wl_proxy*, const char*);
    };
    struct SourceListener {
        void (*send)(void*, wl_proxy*, const char*, int32_t);
        void (*cancelled)(void*, wl_proxy*);
    };

    static DataControlClipboard* self(void* data) { return static_cast<DataControlClipboard*>(data); }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
        DataControlClipboard* d = self(data);
        if (std::strcmp(interface, "wl_seat") == 0) {
            // The first seat is the agent's keyboard and mouse; a phone needs no other.
            if (!d->m_seat) d->m_seat = static_cast<wl_proxy*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
            return;
        }
        for (const Protocol& p : kProtocols) {
            if (std::strcmp(interface, p.global) != 0) continue;
            if (d->m_protocol && d->m_protocol <= &p) return; // a better one is bound already
            destroyProxy(d->m_manager, ManagerDestroy);
            d->m_manager = static_cast<wl_proxy*>(wl_registry_bind(registry, name, p.manager, 1));
            d->m_protocol = &p;
            return;
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void dataOffer(void* data, wl_proxy*, wl_proxy* offer) {
        static const OfferListener listener{offerType};
        self(data)->m_offers[offer] = QByteArray();
        wl_proxy_add_listener(offer, reinterpret_cast<void (**)(void)>(const_cast<OfferListener*>(&listener)), data);
    }
    static void offerType(void* data, wl_proxy* offer, const char* type) {
        auto it = self(data)->m_offers.find(offer);
        if (it == self(data)->m_offers.end()) return;
        const int rank = textRank(type);
        if (rank < 0) return;
        const int now = it->second.isEmpty() ? int(std::size(kTextTypes)) : textRank(it->second.constData());
        if (rank < now) it->second = QByteArray(type);
    }
    static void selection(void* data, wl_proxy*, wl_proxy* offer) { self(data)->takeSelection(offer); }
    static void finished(void* data, wl_proxy*) {
        DataControlClipboard* d = self(data);
        destroyProxy(d->m_device, DeviceDestroy);
        d->m_device = nullptr;
        d->lost();
    }
    static void primarySelection(void* data, wl_proxy*, wl_proxy* offer) {
        // Only the clipboard proper is the dialer's business.
        if (offer && offer != self(data)->m_selection) self(data)->destroyOffer(offer);
    }
    static void send(void* data, wl_proxy* source, const char* type, int32_t fd) {
        self(data)->serve(source, type, fd);
    }
    static void cancelled(void* data, wl_proxy* source) { self(data)->dropSource(source); }
};

DataControlClipboard::DataControlClipboard(wl_display* display) : m_display(display) {}

std::unique_ptr<DataControlClipboard> DataControlClipboard::connectToSession() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return nullptr;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    std::unique_ptr<DataControlClipboard> clipboard(new DataControlClipboard(display));
    if (!clipboard->bindGlobals()) return nullptr;
    DataControlClipboard* c = clipboard.get();
    c->m_displayNotifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read, c);
    connect(c->m_displayNotifier, &QSocketNotifier::activated, c, [c] { c->onDisplayReadable(); });
    // The compositor sent the current selection with the device; it may already wait in the queue.
    if (wl_display_dispatch_pending(display) < 0) return nullptr;
    c->flush();
    return clipboard;
}

bool DataControlClipboard::bindGlobals() {
    static const wl_registry_listener listener{Raw::global, Raw::globalRemove};
    m_registry = wl_display_get_registry(m_display);
    if (!m_registry || wl_registry_add_listener(m_registry, &listener, this) != 0) return false;
    // The one wait on the compositor, at start-up: which globals it offers.
    if (wl_display_roundtrip(m_display) < 0 || !m_manager || !m_seat) return false;
    static const Raw::DeviceListener device{Raw::dataOffer, Raw::selection, Raw::finished, Raw::primarySelection};
    m_device = wl_proxy_marshal_flags(m_manager, ManagerGetDataDevice, m_protocol->device, versionOf(m_manager), 0,
                                      nullptr, m_seat);
    if (!m_device) return false;
    wl_proxy_add_listener(m_device, reinterpret_cast<void (**)(void)>(const_cast<Raw::DeviceListener*>(&device)), this);
    return wl_display_roundtrip(m_display) >= 0;
}

DataControlClipboard::~DataControlClipboard() {
    if (m_displayNotifier) m_displayNotifier->setEnabled(false);
    abortRead();
    while (!m_offers.empty())
        destroyOffer(m_offers.begin()->first);
    for (auto& source : m_sources)
        destroyProxy(source.first, SourceDestroy);
    m_sources.clear();
    destroyProxy(m_device, DeviceDestroy);
    destroyProxy(m_manager, ManagerDestroy);
    if (m_seat) wl_proxy_destroy(m_seat);
    if (m_registry) wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

QString DataControlClipboard::protocolName() const {
    return m_protocol ? QString::fromLatin1(m_protocol->global) : QString();
}

void DataControlClipboard::onDisplayReadable() {
    if (wl_display_prepare_read(m_display) == 0 && wl_display_read_events(m_display) < 0) return lost();
    if (wl_display_dispatch_pending(m_display) < 0) return lost();
    flush();
}

void DataControlClipboard::flush() {
    if (m_display && wl_display_flush(m_display) < 0 && errno != EAGAIN) lost();
}

// The compositor went away (or took the seat): the clipboard keeps its last text and hears no more.
void DataControlClipboard::lost() {
    if (!m_displayNotifier || !m_displayNotifier->isEnabled()) return;
    m_displayNotifier->setEnabled(false);
    abortRead();
    std::fprintf(stderr, "corvid-dialer: the desktop's clipboard connection was lost; copies are no longer seen\n");
}

void DataControlClipboard::destroyOffer(wl_proxy* offer) {
    m_offers.erase(offer);
    if (offer == m_selection) m_selection = nullptr;
    destroyProxy(offer, OfferDestroy);
}

void DataControlClipboard::takeSelection(wl_proxy* offer) {
    abortRead();
    if (m_selection && m_selection != offer) destroyOffer(m_selection);
    m_selection = offer;
    const QByteArray type = offer ? m_offers[offer] : QByteArray();
    int fds[2] = {-1, -1};
    if (type.isEmpty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        // Emptied, or something that is not text (an image): the clipboard reads as empty.
        m_text.clear();
        if (m_handler) m_handler();
        return;
    }
    wl_proxy_marshal_flags(offer, OfferReceive, nullptr, versionOf(offer), 0, type.constData(), fds[1]);
    flush(); // the request carries a copy of the write end
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    m_readFd = fds[0];
    m_incoming.clear();
    m_incomingType = type;
    m_readNotifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { onPipeReadable(); });
}

void DataControlClipboard::abortRead() {
    if (m_readNotifier) {
        m_readNotifier->setEnabled(false);
        m_readNotifier->deleteLater();
        m_readNotifier = nullptr;
    }
    if (m_readFd >= 0) ::close(m_readFd);
    m_readFd = -1;
}

void DataControlClipboard::onPipeReadable() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
        if (n > 0) {
            const qsizetype room = kMaxTextBytes - m_incoming.size();
            if (room > 0) m_incoming.append(buffer, qMin<qsizetype>(room, n));
            continue;
        }
        if (n == 0) return finishRead();
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) abortRead(); // the owner broke off: the text stays as it was
        return;
    }
}

void DataControlClipboard::finishRead() {
    abortRead();
    m_text = textRank(m_incomingType.constData()) >= kLatin1From ? QString::fromLatin1(m_incoming)
                                                                 : QString::fromUtf8(m_incoming);
    m_incoming.clear();
    if (m_handler) m_handler();
}

QString DataControlClipboard::text() const {
    return m_text;
}

void DataControlClipboard::setText(const QString& text) {
    // Read back at once, like the toolkit's own clipboard; the compositor's notice of the new
    // selection follows and runs the change handler.
    m_text = text;
    if (!m_device || !m_displayNotifier->isEnabled()) return;
    static const Raw::SourceListener listener{Raw::send, Raw::cancelled};
    wl_proxy* source = wl_proxy_marshal_flags(m_manager, ManagerCreateDataSource, m_protocol->source,
                                              versionOf(m_manager), 0, nullptr);
    if (!source) return;
    wl_proxy_add_listener(source, reinterpret_cast<void (**)(void)>(const_cast<Raw::SourceListener*>(&listener)), this);
    for (const char* type : kTextTypes)
        wl_proxy_marshal_flags(source, SourceOffer, nullptr, versionOf(source), 0, type);
    m_sources[source] = text.toUtf8();
    wl_proxy_marshal_flags(m_device, DeviceSetSelection, nullptr, versionOf(m_device), 0, source);
    flush();
}

void DataControlClipboard::clear() {
    m_text.clear();
    if (!m_device || !m_displayNotifier->isEnabled()) return;
    wl_proxy_marshal_flags(m_device, DeviceSetSelection, nullptr, versionOf(m_device), 0, nullptr);
    flush();
}

void DataControlClipboard::setChangeHandler(std::function<void()> handler) {
    m_handler = std::move(handler);
}

// Another program pastes what the dialer put on the clipboard. The pipe is the reader's: it is
// written without waiting, and a reader that reads nothing gets what fitted.
void DataControlClipboard::serve(wl_proxy* source, const char* type, int fd) {
    auto it = m_sources.find(source);
    if (it != m_sources.end()) {
        const QByteArray bytes = textRank(type) >= kLatin1From ? QString::fromUtf8(it->second).toLatin1() : it->second;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
    }
    ::close(fd);
}

void DataControlClipboard::dropSource(wl_proxy* source) {
    m_sources.erase(source);
    destroyProxy(source, SourceDestroy);
    flush();
}

} // namespace corvid
