#pragma once
// The window's panels: the key-pad toggle (window width, position file, transfer list), the show
// and hide gestures of the incoming-call, CRM-settings and audio frames, and the context menus of
// the status log and the status caption.

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>

#include "window/WindowSize.h"

class QMenu;
class QWidget;

namespace corvid {

struct WindowContext;

// Shows a panel of the right-hand pages and brings its page to the front.
void showPanel(WindowContext& ctx, QWidget* panel);


// Keys of the main settings file holding the deployment's addresses for the menus (empty: the
// entry is offered disabled).
constexpr const char PolicyUrlKey[] = "PolicyUrl";
constexpr const char HelpUrlKey[] = "HelpUrl";

class Panels : public QObject {
    Q_OBJECT
public:
    // The choice codes of the context menus (0: nothing chosen).
    enum MenuChoice : int {
        NoChoice = 0,
        MessagePlayer = 4,
        MessageRecorder = 5,
        PolicyDocument = 6,
        HelpWebSite = 7,
        HelpViewer = 8,
    };
    // Which control's menu: their message players differ.
    enum class MenuSource { StatusLog, StatusCaption };

    explicit Panels(WindowContext& ctx, QObject* parent = nullptr);

    void onExpChkToggled(bool checked);
    void onAudioFrmDblClick();
    void onLabel1Click();
    void onInBoundFrmDblClick();
    void onCtPush1Clicked();

    void onListStatusLogContextMenu(const QPoint& pos);
    void onMouseMenuContextMenu(const QPoint& pos);

    // Builds the menu for source; each entry's data is its choice code.
    void fillContextMenu(QMenu& menu, MenuSource source) const;
    // Runs the action of a choice code (0 runs nothing).
    void runMenuChoice(MenuSource source, int code);
    int menuChoice() const { return m_menuChoice; }

    // Shows the menu and answers the chosen code (0 when closed without a choice). Tests replace it.
    using MenuRunner = std::function<int(QMenu& menu, const QPoint& globalPos)>;
    void setMenuRunner(MenuRunner runner) { m_menuRunner = std::move(runner); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openContextMenu(MenuSource source, QWidget* widget, const QPoint& pos);

    WindowContext& m_ctx;
    int m_menuChoice = NoChoice;
    MenuRunner m_menuRunner;
};

} // namespace corvid
