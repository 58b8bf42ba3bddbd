#include "integrations/PbxPage.h"

#include <QEvent>
#include <QLabel>
#include <QLayout>

#include "window/WindowContext.h"
#include "phone/OnlineControl.h"
#include "settings/IniFile.h"
#include "ui_MainForm.h"

#include "integrations/WebViewLoader.h"

namespace corvid {

namespace {
const QString System = QStringLiteral("System");

// Keeps what URL syntax would misread; letters, digits and "-._~" pass unchanged.
QString queryValue(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}
} // namespace

QString DirectoryBaseAddress(const QString& pbxId, const QString& providerDomain) {
    return QStringLiteral("http://pbx") + pbxId + QLatin1Char('.') + providerDomain;
}

QString DirectoryPageAddress(const QString& base, bool withCredentials, const QString& user, const QString& password) {
    QString address = base + QLatin1String(DirectoryPagePath);
    if (withCredentials)
        address +=
            QStringLiteral("?username=") + queryValue(user) + QStringLiteral("&password=") + queryValue(password);
    return address;
}

QString DirectoryLinkText(const QUrl& url) {
    // The address may carry the web user and password in its query: the caption is a fixed text.
    return QStringLiteral("<a href=\"%1\">%2</a>")
        .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), QLatin1String(DirectoryLinkCaption));
}

PbxPage::PbxPage(WindowContext& ctx, QObject* parent) : QObject(parent), m_ctx(ctx) {
    if (m_ctx.timers.webtimer) connect(m_ctx.timers.webtimer, &QTimer::timeout, this, &PbxPage::onWebtimerTick);
    m_ctx.ui->Label18->installEventFilter(this);
    m_ctx.ui->Label21->installEventFilter(this);
    if (OnlineControl* online = m_ctx.subsystems.online)
        connect(online, &OnlineControl::directoryPageWanted, this, &PbxPage::showDirectoryPage);
}

bool PbxPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == m_ctx.ui->Label18)
            onLabel18DoubleClicked();
        else if (watched == m_ctx.ui->Label21)
            onLabel21DoubleClicked();
    }
    return QObject::eventFilter(watched, event);
}

void PbxPage::onWebtimerTick() {
    Ui::MainForm* ui = m_ctx.ui;
    // With a replaced loader (tests) the embedded browser is never created.
    if (!m_loader) browser()->setVisible(true);
    m_ctx.state.settingsPath = m_ctx.root.settingsFile();
    const QString& path = m_ctx.state.settingsPath;

    if (ReadIniKey(path, System, QStringLiteral("Mon")) != QLatin1String("True")) {
        navigate(probeUrl());
        m_ctx.timers.webtimer->stop();
        showAccountPanel();
        return;
    }

    ui->customerNumber->setText(MaskedCustomerNumber(ReadIniKey(path, System, QStringLiteral("customerNumber"))));
    m_ctx.state.PbxId = PbxIdFromCustomerNumber(ui->customerNumber->text());
    m_ctx.state.providerDomain = ProviderDomainSetting(path);
    const bool withCredentials = !ui->Text1->text().isEmpty();
    navigate(QUrl(DirectoryPageAddress(directoryBase(), withCredentials, ui->Text2->text().trimmed(),
                                       ui->Text3->text().trimmed())));
    if (m_ctx.timers.OnLineTimer) m_ctx.timers.OnLineTimer->start();
    ui->BtnOnline->setVisible(true);
    m_ctx.timers.webtimer->stop();
    ShowCustomerWindowTitle(m_ctx);
}

void PbxPage::onLabel18DoubleClicked() {
    WriteIniKey(m_ctx.root.settingsFile(), System, QStringLiteral("Mon"), QStringLiteral("True"));
}

void PbxPage::onLabel21DoubleClicked() {
    WriteIniKey(m_ctx.root.settingsFile(), System, QStringLiteral("Mon"), QString());
}

void PbxPage::showDirectoryPage() {
    navigate(QUrl(DirectoryPageAddress(directoryBase(), false, QString(), QString())));
}

QString PbxPage::directoryBase() const {
    const QString base = GetProfileKey(System, QLatin1String(PbxPageBaseUrlKey), m_ctx.root.settingsFile()).trimmed();
    if (!base.isEmpty()) return base.endsWith(QLatin1Char('/')) ? base.chopped(1) : base;
    return DirectoryBaseAddress(m_ctx.state.PbxId, m_ctx.state.providerDomain);
}

QUrl PbxPage::probeUrl() const {
    const QString configured =
        GetProfileKey(System, QStringLiteral("PbxPageProbeUrl"), m_ctx.root.settingsFile()).trimmed();
    return QUrl(configured.isEmpty() ? QLatin1String(DefaultProbeUrl) : configured);
}

void PbxPage::navigate(const QUrl& url) {
    m_lastUrl = url;
    Q_EMIT navigationRequested(url);
    if (m_loader)
        m_loader(url);
    else
        loadInBrowser(url);
}

void PbxPage::showAccountPanel() {
    Ui::MainForm* ui = m_ctx.ui;
    ui->Frame7->setVisible(true);
    ui->RightPages->setCurrentWidget(ui->PageAccount);
}

QWidget* PbxPage::browser() {
    if (m_browser) return m_browser;
    QWidget* host = m_ctx.ui->WebBrowser1Host;
    // The web engine is loaded here, when the page is first shown. Without it the page is a link
    // that opens in the desktop's browser.
    const bool embedded =
        ReadIniKey(m_ctx.root.settingsFile(), System, QLatin1String(PbxPageEmbeddedKey)).trimmed() != QLatin1String("False");
    QWidget* widget = embedded ? createWebView(host) : nullptr;
    if (!widget) {
        auto* label = new QLabel(host);
        label->setTextFormat(Qt::RichText);
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        label->setWordWrap(true);
        // The link opens through the desktop service (never by the label itself), so it can be observed.
        label->setOpenExternalLinks(false);
        connect(label, &QLabel::linkActivated, this, [this](const QString& link) {
            if (m_ctx.services.desktop) m_ctx.services.desktop->openUrl(QUrl(link));
        });
        widget = label;
    }
    widget->setObjectName(QStringLiteral("WebBrowser1"));
    widget->setAccessibleName(QStringLiteral("Active extensions page"));
    if (QLayout* layout = host->layout()) layout->addWidget(widget);
    m_browser = widget;
    m_ctx.WebBrowser1 = widget;
    return m_browser;
}

void PbxPage::loadInBrowser(const QUrl& url) {
    QWidget* widget = browser();
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(DirectoryLinkText(url));
    else
        widget->setProperty("url", url); // the web view loads what its url is set to
}

} // namespace corvid
