// The PBX directory page: its address with the credentials, the start-up tick's decision, no page
// for a phone that went offline, and the silent embedded browser.

#include "support/BareWindow.h"

#include "integrations/PbxPage.h"
#include "phone/OnlineControl.h"

#include <QApplication>
#include <QLabel>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

#ifdef CORVID_WITH_WEBENGINE
#include <QWebEngineView>
#endif

using namespace corvid;
using corvid::test::BareWindow;

namespace {
const QString kCustomer = QStringLiteral("AB12341001secret1001");
const QString kPage = QStringLiteral("/app/active_extensions/active_extensions.php");

struct Page {
    BareWindow w;
    PbxPage page{w.ctx};
    QList<QUrl> loaded;

    explicit Page(bool recordOnly = true) {
        w.ctx.subsystems.pbxPage = &page;
        if (recordOnly) page.setPageLoader([this](const QUrl& url) { loaded << url; });
    }
    void tick() { page.onWebtimerTick(); }
};
} // namespace

class TestPbxPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Characters that would cut the query or change its meaning keep their place in the value.
    void addressEscapesTheCredentials() {
        QCOMPARE(DirectoryPageAddress(QStringLiteral("http://h"), true, "a b", "p&ss#1+%"),
                 QStringLiteral("http://h") + kPage + QStringLiteral("?username=a%20b&password=p%26ss%231%2B%25"));
    }

    void setUpOpensTheDirectoryAndGoesOnline_data() {
        QTest::addColumn<QString>("customer");
        QTest::addColumn<QString>("address");
        QTest::newRow("with credentials")
            << kCustomer
            << QStringLiteral("http://pbx1234.corvidvoice.net") + kPage + QStringLiteral("?username=ann&password=pw");
        QTest::newRow("no customer number") << QString() << QStringLiteral("http://pbx.corvidvoice.net") + kPage;
    }

    void setUpOpensTheDirectoryAndGoesOnline() {
        QFETCH(QString, customer);
        QFETCH(QString, address);
        Page p;
        p.w.setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
        p.w.setSetting(QStringLiteral("customerNumber"), customer);
        p.w.ui.Text1->setText(customer);
        p.w.ui.Text2->setText(QStringLiteral("  ann "));
        p.w.ui.Text3->setText(QStringLiteral(" pw "));
        p.tick();
        QCOMPARE(p.loaded, QList<QUrl>{QUrl(address)});
        QVERIFY(p.w.ctx.timers.OnLineTimer->isActive());
        QVERIFY(!p.w.ui.BtnOnline->isHidden());
    }

    // Going online shows the page without credentials after its one-second wait; going offline
    // during that wait shows none.
    void noPageAfterGoingOffline() {
        BareWindow w;
        OnlineControl online(w.ctx);
        w.ctx.subsystems.online = &online; // before the page, which listens to it
        PbxPage page(w.ctx);
        QList<QUrl> loaded;
        page.setPageLoader([&](const QUrl& url) { loaded << url; });
        w.saveAccount(kCustomer);

        online.onBtnOnlineClicked();
        QCOMPARE(loaded, QList<QUrl>{QUrl(QStringLiteral("http://pbx1234.corvidvoice.net") + kPage)});
        online.onBtnOnlineClicked(); // offline again

        QTimer::singleShot(300, &online, &OnlineControl::onBtnOnlineClicked);
        online.onBtnOnlineClicked();
        QCOMPARE(w.ui.BtnOnline->text(), QStringLiteral("Online"));
        QCOMPARE(loaded.size(), 1);
    }

    // The probe page tries every way a page has of asking the agent something or opening a window:
    // the script runs to its end, every question refused, and no box comes up.
    void silentBrowserNeverAsks() {
#ifdef CORVID_WITH_WEBENGINE
        const QString script = QStringLiteral("<script>alert(1); var c = confirm(2), p = prompt(3, 4);"
                                              "window.open('about:blank'); document.title = 'after:' + c + ':' + p;"
                                              "</script>");
        Page p(false);
        p.w.setSetting(QStringLiteral("PbxPageProbeUrl"),
                       QUrl(QStringLiteral("data:text/html,") + script).toString(QUrl::FullyEncoded));
        p.w.window.show();
        // Any box that comes up is noted and closed, so that a page that asks fails here instead of
        // waiting for an answer.
        QStringList boxesSeen;
        QTimer boxWatch;
        connect(&boxWatch, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                boxesSeen << QString::fromLatin1(modal->metaObject()->className());
                modal->close();
            }
        });
        boxWatch.start(50);

        p.tick();
        auto* view = p.w.window.findChild<QWebEngineView*>(QStringLiteral("WebBrowser1"));
        QVERIFY(view);
        QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("after:false:null"), 30000);
        QCOMPARE(boxesSeen, QStringList());
#else
        QSKIP("built without the web engine: the page is a link the desktop's browser opens");
#endif
    }

    // --- the link that stands for the page without the web engine ----------------------------------

    // An administrator keeps the web engine out for every agent (PbxPageEmbedded=False in the site
    // file): the page is the link for the desktop's browser.
    void pageNotEmbeddedIsALink() {
        QTemporaryDir site;
        QVERIFY(QDir(site.path()).mkpath(QStringLiteral("corvid-dialer")));
        QFile file(site.filePath(QStringLiteral("corvid-dialer/site.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[System]\nPbxPageEmbedded=False\n") > 0);
        file.close();
        const QByteArray oldDirs = qgetenv("XDG_CONFIG_DIRS");
        qputenv("XDG_CONFIG_DIRS", site.path().toLocal8Bit());
        auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_DIRS", oldDirs); });
        Page p(false);
        p.w.setSetting(QStringLiteral("PbxPageProbeUrl"), QStringLiteral("http://127.0.0.1:9/probe"));
        p.tick();
        auto* link = p.w.window.findChild<QLabel*>(QStringLiteral("WebBrowser1"));
        QVERIFY(link);
        QVERIFY(link->text().contains(QStringLiteral("127.0.0.1:9/probe")));
    }

    // The caption shows no credentials; the link itself still opens the whole address.
    void linkCaptionHidesTheCredentials() {
        const QUrl url(DirectoryPageAddress(QStringLiteral("http://pbx1234.example.net"), true, "ann", "Secret9"));
        QTextDocument shown;
        shown.setHtml(DirectoryLinkText(url));
        const QString caption = shown.toPlainText();
        QCOMPARE(caption, QStringLiteral("PBX extensions page"));
        const QTextCursor link = shown.find(caption);
        QCOMPARE(QUrl(link.charFormat().anchorHref()), url);
    }
};

int main(int argc, char** argv) {
    // The web engine shares the window's OpenGL contexts and runs without its sandbox in tests.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    TestPbxPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pbxpage.moc"
