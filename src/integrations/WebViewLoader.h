#pragma once
// Loads the embedded-browser module (integrations/WebViewModule.cpp) on first use.

#include <QString>

class QWidget;

namespace corvid {

// A silent web view (a QWebEngineView whose "url" property loads a page) in parent, or nullptr
// with the reason in *error when the module or the web engine cannot be loaded. The module is
// looked for next to the program, then where the build put it.
QWidget* createWebView(QWidget* parent, QString* error = nullptr);

} // namespace corvid
