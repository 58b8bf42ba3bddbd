#include "integrations/SilentWebPage.h"

#ifdef CORVID_WITH_WEBENGINE

#include <QAuthenticator>
#include <QWebEngineCertificateError>

namespace corvid {

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
