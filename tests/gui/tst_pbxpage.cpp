// The start-up tick's decision, the addresses of the PBX directory and probe pages, the label
// switches, and the silent embedded browser against pages served on loopback.

#include "support/BareWindow.h"

#include "phone/OnlineControl.h"
#include "integrations/PbxPage.h"

#include <QApplication>
#include <QDialog>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTcpSocket>
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
const QString kPagePath = QStringLiteral("/app/active_extensions/active_extensions.php");
const QString kTitle = QStringLiteral("Corvid Software              Customer Number - AB12341001secret1001"
                                      "                         Ver. 6.0.22a");

struct Page {
    BareWindow w;
    PbxPage page{w.ctx};
    QList<QUrl> loaded;

    explicit Page(bool recordOnly = true) {
        w.ctx.subsystems.pbxPage = &page;
        if (recordOnly) page.setPageLoader([this](const QUrl& url) { loaded << url; });
        w.ctx.timers.webtimer->start();
    }
    void tick() { page.onWebtimerTick(); }
};

void doubleClick(QWidget* widget) {
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// A loopback web server: answers every GET with a small page (or the page set for its path) and
// keeps the request targets it was asked for.
class LoopbackWeb : public QObject {
public:
    LoopbackWeb() {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QStringList targets;
    QHash<QString, QByteArray> pages;

private:
    void serve(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        if (!buffer.contains("\r\n\r\n")) return;
        const QList<QByteArray> requestLine = buffer.left(buffer.indexOf("\r\n")).split(' ');
        m_buffers.remove(socket);
        const QString target = QString::fromLatin1(requestLine.value(1));
        targets << target;
        const QString path = target.section(QLatin1Char('?'), 0, 0);
        const QByteArray body = pages.value(path, "<html><head><title>page</title></head><body>ok</body></html>");
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
    QHash<QTcpSocket*, QByteArray> m_buffers;
};
} // namespace

class TestPbxPage : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addresses() {
        QCOMPARE(DirectoryBaseAddress(QStringLiteral("1234"), QStringLiteral("example.net")),
                 QStringLiteral("http://pbx1234.example.net"));
        QCOMPARE(DirectoryPageAddress(QStringLiteral("http://pbx1234.example.net"), false, "ann", "pw"),
                 QStringLiteral("http://pbx1234.example.net") + kPagePath);
        QCOMPARE(DirectoryPageAddress(QStringLiteral("http://h"), true, "ann", "Secret9"),
                 QStringLiteral("http://h") + kPagePath + QStringLiteral("?username=ann&password=Secret9"));
        // Characters that would cut the query or change its meaning keep their place in the value.
        QCOMPARE(DirectoryPageAddress(QStringLiteral("http://h"), true, "a b", "p&ss#1+%"),
                 QStringLiteral("http://h") + kPagePath + QStringLiteral("?username=a%20b&password=p%26ss%231%2B%25"));
        QCOMPARE(CustomerWindowTitle(kCustomer, QStringLiteral("6.0.22a")), kTitle);
    }

    void notSetUpLoadsTheProbeAndShowsTheAccountPanel_data() {
        QTest::addColumn<QString>("mon");
        QTest::addColumn<QString>("probeSetting");
        QTest::addColumn<QUrl>("expected");
        QTest::newRow("missing") << QString() << QString() << QUrl("http://example.com/");
        QTest::newRow("lower case") << QStringLiteral("true") << QString() << QUrl("http://example.com/");
        QTest::newRow("probe from the settings")
            << QStringLiteral("False") << QStringLiteral("http://127.0.0.1:9/probe")
            << QUrl("http://127.0.0.1:9/probe");
    }

    void notSetUpLoadsTheProbeAndShowsTheAccountPanel() {
        QFETCH(QString, mon);
        QFETCH(QString, probeSetting);
        QFETCH(QUrl, expected);
        Page p;
        if (!mon.isNull()) p.w.setSetting(QStringLiteral("Mon"), mon);
        if (!probeSetting.isNull()) p.w.setSetting(QStringLiteral("PbxPageProbeUrl"), probeSetting);
        p.w.window.setWindowTitle(QStringLiteral("before"));
        QVERIFY(p.w.ui.Frame7->isHidden());

        if (QTest::currentDataTag() == QLatin1String("missing"))
            QTRY_COMPARE_WITH_TIMEOUT(p.loaded.size(), 1, 4000); // the webtimer's own tick, 2 s after start
        else
            p.tick();
        QCOMPARE(p.loaded.size(), 1);
        QCOMPARE(p.loaded.first(), expected);
        QCOMPARE(p.page.lastRequestedUrl(), expected);
        QVERIFY(!p.w.ctx.timers.webtimer->isActive());
        QVERIFY(!p.w.ui.Frame7->isHidden());
        QCOMPARE(p.w.ui.RightPages->currentWidget(), p.w.ui.PageAccount);
        QVERIFY(!p.w.ctx.timers.OnLineTimer->isActive());
        QVERIFY(p.w.ui.BtnOnline->isHidden());
        QCOMPARE(p.w.window.windowTitle(), QStringLiteral("before"));
    }

    void setUpOpensTheDirectoryAndGoesOnline_data() {
        QTest::addColumn<QString>("customer");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("domainSetting");
        QTest::addColumn<QString>("pbxId");
        QTest::addColumn<QString>("address");
        const QString query = QStringLiteral("?username=ann&password=Web%20pw%261");
        QTest::newRow("with credentials") << kCustomer << kCustomer << QString() << QStringLiteral("1234")
                                          << QStringLiteral("http://pbx1234.corvidvoice.net") + kPagePath + query;
        QTest::newRow("provider domain from the settings")
            << kCustomer << kCustomer << QStringLiteral("voice.example.org") << QStringLiteral("1234")
            << QStringLiteral("http://pbx1234.voice.example.org") + kPagePath + query;
        QTest::newRow("no customer number") << QString() << QString() << QString() << QString()
                                            << QStringLiteral("http://pbx.corvidvoice.net") + kPagePath;
        QTest::newRow("two characters") << QStringLiteral("AB") << QStringLiteral("AB") << QString() << QString()
                                        << QStringLiteral("http://pbx.corvidvoice.net") + kPagePath + query;
    }

    void setUpOpensTheDirectoryAndGoesOnline() {
        QFETCH(QString, customer);
        QFETCH(QString, text1);
        QFETCH(QString, domainSetting);
        QFETCH(QString, pbxId);
        QFETCH(QString, address);
        Page p;
        p.w.setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
        if (!customer.isNull()) p.w.setSetting(QStringLiteral("customerNumber"), customer);
        if (!domainSetting.isNull()) p.w.setSetting(QStringLiteral("ProviderDomain"), domainSetting);
        p.w.ui.Text1->setText(text1);
        p.w.ui.Text2->setText(QStringLiteral("  ann "));
        p.w.ui.Text3->setText(QStringLiteral(" Web pw&1 "));
        p.w.ctx.timers.webtimer->stop();

        p.tick();

        QCOMPARE(p.loaded, QList<QUrl>{QUrl(address)});
        QCOMPARE(p.loaded.first().toString(QUrl::FullyEncoded), address);
        QCOMPARE(p.w.ui.customerNumber->text(), customer);
        QCOMPARE(p.w.ctx.state.PbxId, pbxId);
        QVERIFY(p.w.ctx.timers.OnLineTimer->isActive());
        QCOMPARE(p.w.ctx.timers.OnLineTimer->interval(), 1000);
        QVERIFY(!p.w.ui.BtnOnline->isHidden());
        QVERIFY(!p.w.ctx.timers.webtimer->isActive());
        QVERIFY(p.w.ui.Frame7->isHidden());
        QCOMPARE(p.w.window.windowTitle(), CustomerWindowTitle(customer, QStringLiteral("6.0.22a")));
    }

    void onlineTimerGoesOnlineAndThenOpensThePlainDirectoryPage() {
        BareWindow w;
        OnlineControl online(w.ctx);
        w.ctx.subsystems.online = &online;
        PbxPage page(w.ctx);
        QList<QUrl> loaded;
        page.setPageLoader([&](const QUrl& url) { loaded << url; });
        w.saveAccount(kCustomer);
        w.ui.Text1->setText(kCustomer);
        w.ui.Text2->setText(QStringLiteral("ann"));
        w.ui.Text3->setText(QStringLiteral("pw"));

        page.onWebtimerTick();
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(w.window.windowTitle(), kTitle);
        // One second later the online button goes online; after its wait it shows the page without
        // credentials.
        QTRY_COMPARE(loaded.size(), 2);
        QCOMPARE(w.ui.BtnOnline->text(), QStringLiteral("Offline"));
        QCOMPARE(loaded.at(1), QUrl(QStringLiteral("http://pbx1234.corvidvoice.net") + kPagePath));
        QVERIFY(!w.ctx.timers.OnLineTimer->isActive());

        // Going offline during the wait (shutdown runs the online click's handler) shows no page.
        online.onBtnOnlineClicked();
        QCOMPARE(w.ui.BtnOnline->text(), QStringLiteral("Online"));
        QTimer::singleShot(300, &online, &OnlineControl::onBtnOnlineClicked);
        online.onBtnOnlineClicked();
        QCOMPARE(w.ui.BtnOnline->text(), QStringLiteral("Online"));
        QCOMPARE(loaded.size(), 2);
    }

    void labelSwitches() {
        Page p;
        p.w.ctx.timers.webtimer->stop();
        doubleClick(p.w.ui.Label18);
        QCOMPARE(p.w.setting(QStringLiteral("Mon")), QStringLiteral("True"));
        QVERIFY(p.loaded.isEmpty()); // read only at the next tick
        doubleClick(p.w.ui.Label21);
        QCOMPARE(p.w.setting(QStringLiteral("Mon")), QString());
        // A single click does nothing.
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(p.w.ui.Label18, &press);
        QCOMPARE(p.w.setting(QStringLiteral("Mon")), QString());
    }

    void silentBrowserLoadsLoopbackPages() {
#ifdef CORVID_WITH_WEBENGINE
        LoopbackWeb web;
        QVERIFY(web.server.isListening());
        // The probe page tries every way a page has of asking the agent something or opening a window.
        web.pages[QStringLiteral("/probe")] = "<html><head><title>probe</title></head><body><script>"
                                              "alert('hello'); var c = confirm('sure?'); var p = prompt('name', 'x');"
                                              "window.open('/popup');"
                                              "document.title = 'after:' + c + ':' + p;"
                                              "</script></body></html>";
        Page p(false);
        p.w.ctx.timers.webtimer->stop();
        p.w.setSetting(QStringLiteral("PbxPageProbeUrl"), web.base() + QStringLiteral("/probe"));
        p.w.setSetting(QStringLiteral("PbxPageBaseUrl"), web.base());
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
        QVERIFY(view->isVisibleTo(p.w.ui.WebBrowser1Host));
        // The script ran to its end: nothing waited for an answer, every question was refused.
        QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("after:false:null"), 30000);
        QCOMPARE(web.targets.value(0), QStringLiteral("/probe"));
        QCOMPARE(boxesSeen, QStringList());
        for (QWidget* top : QApplication::topLevelWidgets())
            QVERIFY2(top == &p.w.window || !top->isVisible() || !qobject_cast<QDialog*>(top),
                     qPrintable(top->metaObject()->className()));
        QTest::qWait(200);
        QVERIFY(!web.targets.contains(QStringLiteral("/popup")));

        // Set up for a customer: the directory page with the credentials, from the PBX's web server.
        p.w.setSetting(QStringLiteral("Mon"), QStringLiteral("True"));
        p.w.setSetting(QStringLiteral("customerNumber"), kCustomer);
        p.w.ui.Text1->setText(kCustomer);
        p.w.ui.Text2->setText(QStringLiteral("ann"));
        p.w.ui.Text3->setText(QStringLiteral("p&ss"));
        p.tick();
        const QString expected = kPagePath + QStringLiteral("?username=ann&password=p%26ss");
        QTRY_VERIFY_WITH_TIMEOUT(web.targets.contains(expected), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(view->title(), QStringLiteral("page"), 30000);
        QCOMPARE(view->url().toString(QUrl::FullyEncoded), web.base() + expected);
        p.w.ctx.timers.OnLineTimer->stop();
#else
        // Without the web engine the page is a link that the desktop's browser opens.
        Page p(false);
        p.w.ctx.timers.webtimer->stop();
        p.tick();
        auto* label = p.w.window.findChild<QLabel*>(QStringLiteral("WebBrowser1"));
        QVERIFY(label);
        QVERIFY(label->text().contains(QStringLiteral("http://example.com/")));
        QVERIFY(p.w.fakes.desktop.urls.isEmpty());
        Q_EMIT label->linkActivated(QStringLiteral("http://example.com/"));
        QCOMPARE(p.w.fakes.desktop.urls, QList<QUrl>{QUrl(QStringLiteral("http://example.com/"))});
#endif
    }

    // --- the link that stands for the page without the web engine ----------------------------------

    // The caption shows no credentials; the link itself still opens the whole address.
    void linkCaptionHidesTheCredentials() {
        const QUrl url(DirectoryPageAddress(QStringLiteral("http://pbx1234.example.net"), true, "ann", "Secret9"));
        QTextDocument shown;
        shown.setHtml(DirectoryLinkText(url));
        const QString caption = shown.toPlainText();
        QVERIFY2(!caption.contains(QStringLiteral("Secret9")) && !caption.contains(QStringLiteral("ann")),
                 qPrintable(caption));
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
