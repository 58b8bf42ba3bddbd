// The PBX page's web engine must never take the phone down: the real program started as root with
// no sandbox switch in its environment, and a page whose renderer process dies.

#include "integrations/SilentWebPage.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

using namespace corvid;

namespace {

// A loopback web server whose every answer is a page that asks for "/alive.png": that request
// arriving shows the page's renderer is up and has read the page.
class PageServer : public QTcpServer {
public:
    PageServer() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) // the server's child: deleted with it
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        });
    }
    QString pageUrl() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }
    bool aliveAsked = false;

private:
    void answer(QTcpSocket* socket) {
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n")) return;
        aliveAsked = aliveAsked || request.startsWith("GET /alive.png ");
        const QByteArray body = "<html><body><p>Active extensions</p><img src=\"/alive.png\"></body></html>";
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};

} // namespace

class TestWebPage : public QObject {
    Q_OBJECT
private slots:
    void startedAsRootTheProgramKeepsRunningWithThePage() {
        if (geteuid() != 0) QSKIP("needs root: only root runs the web engine's helper without the sandbox");
        PageServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")));
        // Not set up for a customer: the start-up tick loads the probe page, here the loopback one.
        QFile settings(root.filePath(QStringLiteral("bin/corvidapp.ini")));
        QVERIFY(settings.open(QIODevice::WriteOnly) &&
                settings.write("[System]\r\nPbxPageProbeUrl=" + server.pageUrl().toLatin1() + "\r\n") > 0);
        settings.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const char* name : {"QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS", "CALLDECK_ROOT",
                                 "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            env.remove(QString::fromLatin1(name));
        QProcess dialer;
        dialer.setProcessEnvironment(env);
        dialer.start(QStringLiteral(CORVID_DIALER_BINARY), {QStringLiteral("--root"), root.path()});
        QVERIFY(dialer.waitForStarted());
        auto stop = qScopeGuard([&] {
            dialer.kill();
            dialer.waitForFinished(5000);
        });

        QTRY_VERIFY_WITH_TIMEOUT(server.aliveAsked || dialer.state() != QProcess::Running, 20000);
        const QByteArray errors = dialer.readAllStandardError();
        QVERIFY2(dialer.state() == QProcess::Running, errors.constData());
        QVERIFY2(errors.contains("without its sandbox"), errors.constData());
    }

    void aDeadRendererIsReplacedAndThePageLoadedAgain() {
        SilentWebPage page;
        int goodLoads = 0;
        connect(&page, &QWebEnginePage::loadFinished, this, [&](bool ok) { goodLoads += ok ? 1 : 0; });
        page.load(QUrl(QStringLiteral("data:text/html,<p>Active extensions</p>")));
        QTRY_COMPARE_WITH_TIMEOUT(goodLoads, 1, 15000);
        const qint64 first = page.renderProcessPid();
        QVERIFY(first > 0);

        QCOMPARE(::kill(pid_t(first), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(goodLoads, 2, 15000);
        QVERIFY(page.renderProcessPid() > 0 && page.renderProcessPid() != first);
        QCOMPARE(page.url(), QUrl(QStringLiteral("data:text/html,<p>Active extensions</p>")));
    }
};

int main(int argc, char** argv) {
    // The in-process page shares the application's OpenGL contexts and, run as root, has no sandbox;
    // the program the first test starts gets neither from here.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication app(argc, argv);
    TestWebPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webpage.moc"
