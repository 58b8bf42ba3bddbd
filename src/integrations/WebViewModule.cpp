// The embedded browser as a module of its own (libcorvid_webview.so), loaded by the window when the
// PBX page is first shown (integrations/WebViewLoader.h): the web engine's libraries are mapped only
// into a dialer that shows the page.

#ifdef CORVID_WITH_WEBENGINE

#include "integrations/SilentWebPage.h"

#include <QWebEngineView>

extern "C" Q_DECL_EXPORT QWidget* corvidCreateWebView(QWidget* parent) {
    auto* view = new QWebEngineView(parent);
    view->setPage(new corvid::SilentWebPage(view));
    view->setContextMenuPolicy(Qt::NoContextMenu);
    return view;
}

#endif
