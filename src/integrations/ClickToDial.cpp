#include "integrations/ClickToDial.h"

#include "platform/Delay.h"
#include "platform/WaylandSession.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "ui_MainForm.h"
#include "window/WindowContext.h"

#include <QCheckBox>
#include <QEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>

#include <cstdio>

namespace corvid {

ClickToDial::ClickToDial(WindowContext& context, QObject* parent) : QObject(parent), ctx(context) {
    connect(ctx.ui->autoCheck, &QCheckBox::toggled, this, &ClickToDial::onAutoCheckToggled);
    connect(ctx.ui->tapiPush, &QPushButton::clicked, this, &ClickToDial::onTapiPushClicked);
    // The box is enabled once the phone has registered: clipboard dialing is usable from then on.
    m_box = ctx.ui->autoCheck;
    m_box->installEventFilter(this);
}

bool ClickToDial::eventFilter(QObject* watched, QEvent* event) {
    // Only the box's own enabling counts; other events may arrive while the window is torn down,
    // when the context is no longer there to read.
    if (event->type() == QEvent::EnabledChange && watched == m_box) noteClipboardReach();
    return QObject::eventFilter(watched, event);
}

void ClickToDial::noteClipboardReach() {
    const QCheckBox* box = ctx.ui->autoCheck;
    if (m_focusNoticeGiven || !box->isChecked() || !box->isEnabled()) return;
    if (!ctx.services.clipboard || ctx.services.clipboard->seesOtherWindows()) return;
    m_focusNoticeGiven = true;
    std::fprintf(stderr, "corvid-dialer: %s\n", qPrintable(clipboardFocusOnlyNotice()));
    // After the handler that enabled or ticked the box, which may be waiting itself.
    QTimer::singleShot(0, this, [this] {
        if (ctx.services.messages) ctx.services.messages->information(ctx.window, clipboardFocusOnlyNotice());
    });
}

// The box shows what the settings file holds afterwards: a value that could not be stored reads
// back as it was, and the box follows it. A value that is neither "1" nor "0" changes nothing.
void ClickToDial::onAutoCheckToggled(bool checked) {
    const QString path = ctx.root.settingsFile();
    WriteIniKey(path, keys::System, keys::autocall, checked ? QStringLiteral("1") : QStringLiteral("0"));
    const QString stored = ReadIniKey(path, keys::System, keys::autocall);
    if (stored != QLatin1String("1") && stored != QLatin1String("0")) return;
    const bool on = stored == QLatin1String("1");
    QCheckBox* box = ctx.ui->autoCheck;
    {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    box->setText(on ? QStringLiteral("Click On") : QStringLiteral("Click Off"));
    noteClipboardReach();
}

void ClickToDial::onTapiPushClicked() {
    QPointer<QPushButton> button(ctx.ui->tapiPush);
    button->setEnabled(false);
    // A bridge that is not installed or does not start is not reported.
    if (ctx.services.processes) ctx.services.processes->startDetached(ctx.root.appTool(QStringLiteral("tapibridge")));
    QPointer<ClickToDial> alive(this);
    msDelay(BridgeWaitMs);
    if (alive && button) button->setEnabled(true);
}

} // namespace corvid
