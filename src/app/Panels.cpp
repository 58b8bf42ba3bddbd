#include "app/Panels.h"

#include "window/WindowContext.h"
#include "platform/Twips.h"
#include "settings/IniFile.h"
#include "settings/ListFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>

namespace corvid {

namespace {
const QString kSystem = QString::fromLatin1(keys::System);
}

void showPanel(WindowContext& ctx, QWidget* panel) {
    panel->show();
    QTabWidget* pages = ctx.ui->RightPages;
    for (int i = 0; i < pages->count(); ++i) {
        if (pages->widget(i)->isAncestorOf(panel)) {
            pages->setCurrentIndex(i);
            break;
        }
    }
}

Panels::Panels(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    Ui::MainForm* ui = m_ctx.ui;
    connect(ui->expChk, &QCheckBox::toggled, this, &Panels::onExpChkToggled);
    connect(ui->ctPush1, &QPushButton::clicked, this, &Panels::onCtPush1Clicked);
    // topCheck has no action of its own.
    ui->audioFrm->installEventFilter(this);
    ui->InBoundFrm->installEventFilter(this);
    ui->Label1->installEventFilter(this);
    ui->Label1->setCursor(Qt::PointingHandCursor);

    ui->ListStatusLog->setContextMenuPolicy(Qt::CustomContextMenu);
    ui->mouseMenu->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->ListStatusLog, &QWidget::customContextMenuRequested, this, &Panels::onListStatusLogContextMenu);
    connect(ui->mouseMenu, &QWidget::customContextMenuRequested, this, &Panels::onMouseMenuContextMenu);

    m_menuRunner = [](QMenu& menu, const QPoint& globalPos) {
        QAction* chosen = menu.exec(globalPos);
        return chosen ? chosen->data().toInt() : int(NoChoice);
    };
}

bool Panels::eventFilter(QObject* watched, QEvent* event) {
    Ui::MainForm* ui = m_ctx.ui;
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == ui->audioFrm)
            onAudioFrmDblClick();
        else if (watched == ui->InBoundFrm)
            onInBoundFrmDblClick();
    } else if (event->type() == QEvent::MouseButtonRelease && watched == ui->Label1) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && ui->Label1->rect().contains(mouse->position().toPoint()))
            onLabel1Click();
    }
    return QObject::eventFilter(watched, event);
}

// The key pad opens and closes by the window's width; each toggle also saves the window's position
// for other programs and reloads the transfer list.
void Panels::onExpChkToggled(bool checked) {
    Ui::MainForm* ui = m_ctx.ui;
    QWidget* window = m_ctx.window;
    ui->Frame2->hide();
    window->resize(twipsToPixels(checked ? kExpandedWidthTwips : kCollapsedWidthTwips),
                   twipsToPixels(kWindowHeightTwips));
    ui->leftTxt->setText(QString::number(pixelsToTwips(window->x())));
    ui->topTxT->setText(QString::number(pixelsToTwips(window->y())));
    const QString positionFile = m_ctx.root.binFile(QString::fromLatin1(keys::ButtonPrgFile));
    WriteIniKey(positionFile, kSystem, QString::fromLatin1(keys::Top), ui->topTxT->text());
    WriteIniKey(positionFile, kSystem, QString::fromLatin1(keys::Left), ui->leftTxt->text());
    ui->audioFrm->hide();

    ui->EditTransferPhoneNo->clear();
    ui->EditTransferPhoneNo->addItems(
        readListFile(m_ctx.root.binFile(QStringLiteral("transfer.txt")), TransferListMaxFields));
    const QString path = m_ctx.state.settingsPath;
    ui->EditTransferPhoneNo->setEditText(ReadIniKey(path, kSystem, QString::fromLatin1(keys::TransferNumber)));
    ui->EditForwardCallPhoneNo->setText(ReadIniKey(path, kSystem, QString::fromLatin1(keys::Forward)));
}

void Panels::onAudioFrmDblClick() {
    m_ctx.ui->audioFrm->hide();
}

void Panels::onLabel1Click() {
    showPanel(m_ctx, m_ctx.ui->InBoundFrm);
}

void Panels::onInBoundFrmDblClick() {
    showPanel(m_ctx, m_ctx.ui->LMFrame);
}

void Panels::onCtPush1Clicked() {
    m_ctx.ui->InBoundFrm->hide();
    m_ctx.ui->CIDTxt->clear();
}

void Panels::onListStatusLogContextMenu(const QPoint& pos) {
    openContextMenu(MenuSource::StatusLog, m_ctx.ui->ListStatusLog, pos);
}

void Panels::onMouseMenuContextMenu(const QPoint& pos) {
    openContextMenu(MenuSource::StatusCaption, m_ctx.ui->mouseMenu, pos);
}

void Panels::fillContextMenu(QMenu& menu, MenuSource source) const {
    const QString path = m_ctx.state.settingsPath;
    auto add = [&](const QString& text, int code, bool enabled = true) {
        QAction* action = menu.addAction(text);
        action->setData(code);
        action->setEnabled(enabled);
    };
    add(source == MenuSource::StatusLog ? tr("Call Message Player") : tr("Message Player"), MessagePlayer);
    add(tr("Message Recorder"), MessageRecorder);
    menu.addSeparator();
    add(tr("Policy Document"), PolicyDocument,
        !ReadIniKey(path, kSystem, QString::fromLatin1(PolicyUrlKey)).trimmed().isEmpty());
    add(tr("Help Web Site"), HelpWebSite,
        !ReadIniKey(path, kSystem, QString::fromLatin1(HelpUrlKey)).trimmed().isEmpty());
    add(tr("Help Viewer"), HelpViewer);
}

void Panels::openContextMenu(MenuSource source, QWidget* widget, const QPoint& pos) {
    m_menuChoice = NoChoice;
    QMenu menu(widget);
    fillContextMenu(menu, source);
    m_menuChoice = m_menuRunner(menu, widget->mapToGlobal(pos));
    m_ctx.ui->expChk->setChecked(false);
    runMenuChoice(source, m_menuChoice);
}

void Panels::runMenuChoice(MenuSource source, int code) {
    ProcessLauncher* processes = m_ctx.services.processes;
    DesktopOpener* desktop = m_ctx.services.desktop;
    const QString path = m_ctx.state.settingsPath;
    auto openSetting = [&](const char* key) {
        const QString address = ReadIniKey(path, kSystem, QString::fromLatin1(key)).trimmed();
        if (!address.isEmpty() && desktop) desktop->openUrl(QUrl(address));
    };
    switch (code) {
    case MessagePlayer:
        if (processes)
            processes->startDetached(m_ctx.root.appTool(source == MenuSource::StatusLog ? QStringLiteral("cmsgplayer")
                                                                                        : QStringLiteral("msgplayer")));
        break;
    case MessageRecorder:
        if (processes) processes->startDetached(m_ctx.root.appTool(QStringLiteral("msgrecorder")));
        break;
    case PolicyDocument:
        openSetting(PolicyUrlKey);
        break;
    case HelpWebSite:
        openSetting(HelpUrlKey);
        break;
    case HelpViewer:
        if (processes) processes->startDetached(m_ctx.root.binTool(QStringLiteral("helpview")));
        break;
    default:
        break;
    }
}

} // namespace corvid
