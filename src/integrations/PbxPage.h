#pragma once
// The embedded page of the PBX's active extensions (WebBrowser1), the one-shot start-up tick that
// decides whether the dialer is set up for a customer, and the two hidden label switches.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

#include "window/WindowTitle.h"

class QWidget;

namespace corvid {

struct WindowContext;

// Path of the page of active extensions on the PBX's web server.
inline constexpr char DirectoryPagePath[] = "/app/active_extensions/active_extensions.php";
// The probe page loaded when the dialer is not set up yet (optional key PbxPageProbeUrl overrides it).
inline constexpr char DefaultProbeUrl[] = "http://example.com/";
// Optional key: scheme, host and port that replace "http://pbx<PbxId>.<domain>" (a PBX whose web
// server has another name, or a loopback server in tests).
inline constexpr char PbxPageBaseUrlKey[] = "PbxPageBaseUrl";
// Optional key: "False" shows the page as a link for the desktop's browser instead of embedding it
// (the web engine is then never loaded: on a host shared by twenty agents that saves each about
// 50 MiB of PSS).
inline constexpr char PbxPageEmbeddedKey[] = "PbxPageEmbedded";

// "http://pbx" + pbxId + "." + domain
QString DirectoryBaseAddress(const QString& pbxId, const QString& providerDomain);
// base + the page's path; with credentials "?username=" + user + "&password=" + password. The two
// values are percent-encoded where URL syntax would otherwise cut or change them ('&', '#', '+',
// '%', blanks...); plain letters and digits pass as they are.
QString DirectoryPageAddress(const QString& base, bool withCredentials, const QString& user, const QString& password);
// The rich text of the link label that stands for the page without the web engine: a link to url
// captioned DirectoryLinkCaption, so that credentials in the address are never shown.
inline constexpr char DirectoryLinkCaption[] = "PBX extensions page";
QString DirectoryLinkText(const QUrl& url);

class PbxPage : public QObject {
    Q_OBJECT
public:
    using PageLoader = std::function<void(const QUrl&)>;

    // Wires webtimer, the double-clicks of Label18 and Label21 and, when ctx.subsystems.online is
    // set, the directory page that going online asks for.
    explicit PbxPage(WindowContext& ctx, QObject* parent = nullptr);

    // The start-up decision: directory page and going online, or probe page and account panel.
    void onWebtimerTick();
    void onLabel18DoubleClicked(); // Mon = "True"
    void onLabel21DoubleClicked(); // Mon = ""

    // The directory page without credentials, for PbxId and the provider domain of the window.
    void showDirectoryPage();

    // Every navigation of WebBrowser1 goes through here; the loader shows the page (by default in
    // the embedded browser). Tests replace the loader to keep pages off the network.
    void navigate(const QUrl& url);
    void setPageLoader(PageLoader loader) { m_loader = std::move(loader); }
    QUrl lastRequestedUrl() const { return m_lastUrl; }

    QString directoryBase() const;
    QUrl probeUrl() const;

    // WebBrowser1 (created in WebBrowser1Host on first use, and then ctx.WebBrowser1): a silent
    // QWebEngineView, or without the web engine a link label that opens the page in the desktop's
    // browser.
    QWidget* browser();

Q_SIGNALS:
    void navigationRequested(const QUrl& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadInBrowser(const QUrl& url);
    void showAccountPanel();

    WindowContext& m_ctx;
    PageLoader m_loader;
    QUrl m_lastUrl;
    QPointer<QWidget> m_browser;
};

} // namespace corvid
