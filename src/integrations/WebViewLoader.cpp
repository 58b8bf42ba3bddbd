#include "integrations/WebViewLoader.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QStringList>
#include <QWidget>

namespace corvid {

QWidget* createWebView(QWidget* parent, QString* error) {
#if defined(CORVID_WITH_WEBENGINE) && defined(CORVID_WEBVIEW_MODULE)
    using Create = QWidget* (*)(QWidget*);
    static Create create = nullptr;
    static QString failure;
    if (!create && failure.isEmpty()) {
        QStringList tried;
        // Next to the program (a build), in the install's module folder relative to the program (so
        // a moved install keeps working), then where the build made it (tests run from elsewhere).
        const QString programDir = QCoreApplication::applicationDirPath();
        const QStringList candidates{programDir + QStringLiteral("/" CORVID_WEBVIEW_MODULE),
                                     programDir + QStringLiteral("/" CORVID_MODULES_FROM_BIN "/" CORVID_WEBVIEW_MODULE),
                                     QStringLiteral(CORVID_WEBVIEW_MODULE_BUILD_PATH)};
        for (const QString& path : candidates) {
            QLibrary module(path); // stays loaded: nothing unloads it
            create = reinterpret_cast<Create>(module.resolve("corvidCreateWebView"));
            if (create) break;
            tried << module.errorString();
        }
        if (!create) failure = tried.join(QStringLiteral("; "));
    }
    if (create) return create(parent);
    if (error) *error = failure;
    return nullptr;
#else
    Q_UNUSED(parent);
    if (error) *error = QStringLiteral("built without the web engine");
    return nullptr;
#endif
}

} // namespace corvid
