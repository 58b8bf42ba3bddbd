#pragma once
// A web page that never asks the agent anything: no JavaScript dialog boxes, no pop-up windows, no
// file pickers, no sign-in or certificate prompts, no console noise. The PBX page is display only.

#ifdef CORVID_WITH_WEBENGINE

#include <QWebEnginePage>

namespace corvid {

class SilentWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit SilentWebPage(QObject* parent = nullptr);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
};

} // namespace corvid

#endif
