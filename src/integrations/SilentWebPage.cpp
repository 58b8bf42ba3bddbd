#include "integrations/SilentWebPage.h"

#ifdef CORVID_WITH_WEBENGINE

#include <QAuthenticator>
#include <QTimer>
#include <QWebEngineCertificateError>

namespace corvid {

namespace {
constexpr int ReloadDelayMs = 1000;
constexpr qint64 ReloadSpacingMs = 60 * 1000;
} // namespace

SilentWebPage::SilentWebPage(QObject* parent) : QWebEnginePage(parent) {
    // Untouched authenticators cancel the request instead of asking for a name and password.
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) { *authenticator = QAuthenticator(); });
    // A bad certificate is refused, never put to the agent.
    connect(this, &QWebEnginePage::certificateError, this,
            [](const QWebEngineCertificateError& error) { QWebEngineCertificateError(error).rejectCertificate(); });
    // Features (camera, location, notifications...) are denied without a question.
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::renderProcessTerminated, this, &SilentWebPage::onRenderProcessTerminated);
}

void SilentWebPage::onRenderProcessTerminated(RenderProcessTerminationStatus status, int exitCode) {
    if (status == NormalTerminationStatus) return;
    // A page that kills its renderer every time it loads must not keep the helper restarting.
    const bool reload = !m_lastReload.isValid() || m_lastReload.elapsed() >= ReloadSpacingMs;
    qWarning("corvid-dialer: the PBX page's renderer ended (status %d, exit code %d)%s", int(status), exitCode,
             reload ? "; loading the page again" : "");
    if (!reload) return;
    m_lastReload.start();
    QTimer::singleShot(ReloadDelayMs, this, [this] {
        const QUrl page = url().isEmpty() ? requestedUrl() : url();
        if (!page.isEmpty()) load(page);
    });
}

QWebEnginePage* SilentWebPage::createWindow(WebWindowType) {
    return nullptr;
}

QStringList SilentWebPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
    return {};
}

void SilentWebPage::javaScriptAlert(const QUrl&, const QString&) {}

bool SilentWebPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool SilentWebPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void SilentWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) {}

} // namespace corvid

#endif
