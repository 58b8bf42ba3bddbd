// The PBX directory page: its address with the credentials, the start-up tick's decision, no page
// for a phone that went offline, and the silent embedded browser.

#include "support/BareWindow.h"

#include "integrations/PbxPage.h"
#include "phone/OnlineControl.h"

#include <QApplication>
#include <QLabel>
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

    // The start-up tick of a set-up account opens the directory with the trimmed credentials (the
    // page without them is checked after going online) and goes online.
    void setUpOpensTheDirectoryAndGoesOnline() {
        Page p;
        p.w.setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
        p.w.setSetting(QStringLiteral("customerNumber"), kCustomer);
        p.w.ui.Text1->setText(kCustomer);
        p.w.ui.Text2->setText(QStringLiteral("  ann "));
        p.w.ui.Text3->setText(QStringLiteral(" pw "));
        p.tick();
        QCOMPARE(p.loaded, QList<QUrl>{QUrl(QStringLiteral("http://pbx1234.corvidvoice.net") + kPage +
                                            QStringLiteral("?username=ann&password=pw"))});
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

    // With the web engine kept out (PbxPageEmbedded=False, as a site file can set it for every
    // agent) the page is a link for the desktop's browser: its caption shows no credentials, the
    // link itself opens the whole address.
    void pageNotEmbeddedIsALinkHidingTheCredentials() {
        Page p(false);
        p.w.setSetting(QStringLiteral("PbxPageEmbedded"), QStringLiteral("False"));
        p.w.setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
        p.w.setSetting(QStringLiteral("customerNumber"), kCustomer);
        p.w.ui.Text1->setText(kCustomer);
        p.w.ui.Text2->setText(QStringLiteral("ann"));
        p.w.ui.Text3->setText(QStringLiteral("Secret9"));
        p.tick();
        auto* link = p.w.window.findChild<QLabel*>(QStringLiteral("WebBrowser1"));
        QVERIFY(link);
        QTextDocument shown;
        shown.setHtml(link->text());
        QCOMPARE(shown.toPlainText(), QStringLiteral("PBX extensions page"));
        QCOMPARE(QUrl(shown.find(shown.toPlainText()).charFormat().anchorHref()),
                 QUrl(QStringLiteral("http://pbx1234.corvidvoice.net") + kPage +
                      QStringLiteral("?username=ann&password=Secret9")));
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
