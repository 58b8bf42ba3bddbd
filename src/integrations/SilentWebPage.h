#pragma once
// A web page that never asks the agent anything: no JavaScript dialog boxes, no pop-up windows, no
// file pickers, no sign-in or certificate prompts, no console noise. The PBX page is display only.
// Its renderer runs in a helper process; when that process ends abnormally (crash, kill, out of
// memory) the page is loaded again a moment later, at most once a minute, and the window carries on.

#ifdef CORVID_WITH_WEBENGINE

#include <QElapsedTimer>
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

private:
    void onRenderProcessTerminated(RenderProcessTerminationStatus status, int exitCode);

    QElapsedTimer m_lastReload; // since the last reload after a dead renderer
};

} // namespace corvid

#endif
