// The clipboard dispatcher on Wayland desktops, against real compositors on a private socket and the
// loopback test bed. The dialer is this test program run again as a child ("--dialer ROOT"): the
// window and engine as main() builds them, with the real desktop services, as a Wayland client.
//
// - sway (headless), which lends clipboard managers its data-control protocol: another window has
//   the focus when wl-copy puts a number on the clipboard, and the call reaches the far end.
// - weston (headless), which hands the clipboard only to the focused window: the dialer says so once.
//
// sway will not run as root: as root the test runs it as a system user it makes (corvid-wl). The
// dialer and the other clients connect to the compositor's socket by its path.

#include "app/MainForm.h"
#include "integrations/PbxPage.h"
#include "platform/QtServices.h"
#include "support/BedWindow.h"
#include "ui_MainForm.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <pwd.h>
#include <unistd.h>

using namespace corvid;
using namespace corvid::test;

namespace {

const char* const kUser = "corvid-wl";

// The child: registers, ticks click-to-dial, and prints every status-log line.
int runDialer(const QString& rootDir) {
    ProgramWindow program{InstallRoot(rootDir)};
    MainForm& window = program.window;
    const QStringList& log = program.log;
    QObject::connect(window.form()->ListStatusLog->model(), &QAbstractItemModel::rowsInserted, [&] {
        std::printf("log: %s\n", qPrintable(log.value(log.size() - 1)));
        std::fflush(stdout);
    });
    window.show();
    if (!QTest::qWaitFor(
            [&] { return log.contains(QStringLiteral("Ready...")) && window.form()->autoCheck->isEnabled(); }, 30000))
        return 2;
    window.form()->autoCheck->setChecked(true);
    std::printf("ready\n");
    std::fflush(stdout);
    return QApplication::exec();
}

// A compositor on a private runtime folder, run as user (null: as we are), stopped by its PID.
struct Compositor {
    QTemporaryDir runtime{QDir::tempPath() + QStringLiteral("/corvid-wl-XXXXXX")};
    QProcess process;
    QString socket; // its path

    ~Compositor() {
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished(2000);
    }
    bool start(QStringList command, const char* user) {
        command.prepend(QStringLiteral("XDG_RUNTIME_DIR=") + runtime.path());
        command.prepend(QStringLiteral("env"));
        if (const passwd* pw = user ? ::getpwnam(user) : nullptr) {
            if (::chown(qPrintable(runtime.path()), pw->pw_uid, pw->pw_gid) != 0) return false;
            command = QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(pw->pw_uid),
                                  QStringLiteral("--regid=%1").arg(pw->pw_gid), "--clear-groups"} +
                      command;
        }
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(command.takeFirst(), command);
        return QTest::qWaitFor(
                   [&] {
                       for (const QString& name : QDir(runtime.path()).entryList({"wayland-*"}, QDir::System))
                           if (!name.endsWith(QLatin1String(".lock"))) socket = runtime.path() + '/' + name;
                       return !socket.isEmpty() || process.state() == QProcess::NotRunning;
                   },
                   10000) &&
               !socket.isEmpty();
    }
    QProcessEnvironment clientEnvironment(const QString& runtimeDir) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("WAYLAND_DISPLAY", socket);
        e.insert("XDG_RUNTIME_DIR", runtimeDir);
        e.insert("QT_QPA_PLATFORM", "wayland");
        e.remove("DISPLAY");
        return e;
    }
};

// The pid of the client that has the keyboard focus in sway, or 0.
qint64 swayFocusedPid(const Compositor& sway) {
    const QString ipc = QDir(sway.runtime.path()).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System).value(0);
    if (ipc.isEmpty()) return 0;
    QProcess msg;
    msg.start(QStringLiteral("swaymsg"), {QStringLiteral("-s"), sway.runtime.path() + QLatin1Char('/') + ipc,
                                          QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree")});
    if (!msg.waitForFinished(5000)) return 0;
    QList<QJsonObject> nodes{QJsonDocument::fromJson(msg.readAllStandardOutput()).object()};
    while (!nodes.isEmpty()) {
        const QJsonObject node = nodes.takeFirst();
        if (node.value(QStringLiteral("focused")).toBool() && node.contains(QStringLiteral("pid")))
            return node.value(QStringLiteral("pid")).toInteger();
        for (const QString& key : {QStringLiteral("nodes"), QStringLiteral("floating_nodes")})
            for (const QJsonValue child : node.value(key).toArray())
                nodes << child.toObject();
    }
    return 0;
}

} // namespace

class TestWaylandE2e : public QObject {
    Q_OBJECT
    BedRun m_run;
    QTemporaryDir m_clientRuntime{QDir::tempPath() + QStringLiteral("/corvid-wlc-XXXXXX")};

    // The dialer as a client of compositor, on a root set up for the bed with click-to-dial on.
    bool startDialer(QProcess& dialer, const Compositor& compositor, MainFormFixture& root) {
        root.writeSettings(BedWindow::settings(*m_run.bed, {Account1001, QStringLiteral("Demo Agent"), {}, {}}));
        dialer.setProcessEnvironment(compositor.clientEnvironment(m_clientRuntime.path()));
        dialer.setProcessChannelMode(QProcess::MergedChannels); // its notes on stderr count too
        dialer.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--dialer"), root.rootPath()});
        return QTest::qWaitFor([&] { return dialer.state() == QProcess::NotRunning || dialerSaid(dialer, "ready\n"); },
                               40000) &&
               dialer.state() == QProcess::Running;
    }
    QByteArray m_out;
    bool dialerSaid(QProcess& dialer, const QByteArray& text) {
        m_out += dialer.readAllStandardOutput();
        return m_out.contains(text);
    }

private slots:
    void initTestCase() {
        for (const char* tool : {"sway", "swaymsg", "weston", "wl-copy", "weston-flower", "setpriv"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/install-deps testbed)").arg(tool)));
        if (::geteuid() == 0 && !::getpwnam(kUser))
            QCOMPARE(QProcess::execute(QStringLiteral("useradd"),
                                       {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                                        QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"),
                                        QString::fromLatin1(kUser)}),
                     0);
        QFile::setPermissions(m_clientRuntime.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(m_run.start());
    }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    void copyInAnotherWindowIsDialled() {
        m_out.clear();
        Compositor sway;
        QVERIFY2(sway.start({"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1", "sway", "-c",
                             "/dev/null"},
                            ::geteuid() == 0 ? kUser : nullptr),
                 sway.process.readAll().constData());
        MainFormFixture root;
        QProcess dialer;
        auto stopDialer = qScopeGuard([&] {
            dialer.kill();
            dialer.waitForFinished(5000);
        });
        QVERIFY2(startDialer(dialer, sway, root), m_out);

        // Another window takes the focus, then another program copies a number.
        QProcess other;
        other.setProcessEnvironment(sway.clientEnvironment(m_clientRuntime.path()));
        other.start(QStringLiteral("weston-flower"), {});
        auto stopOther = qScopeGuard([&] {
            other.kill();
            other.waitForFinished(5000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(swayFocusedPid(sway), other.processId(), 10000);
        // wl-copy stays until the dialer empties the clipboard, or the compositor ends.
        QProcess copy;
        copy.setProcessEnvironment(sway.clientEnvironment(m_clientRuntime.path()));
        copy.start("wl-copy", {"9000000001"});
        QVERIFY2(QTest::qWaitFor([&] { return dialerSaid(dialer, "log: Line- 1: Success to connect."); }, 20000),
                 m_out);
        QVERIFY(root.readFile(QStringLiteral("logs/automation.log")).contains("\tclipboard\t9000000001\t"));
        QCOMPARE(swayFocusedPid(sway), other.processId()); // the focus never moved to the dialer
    }

    void focusOnlyDesktopSaysSoOnce() {
        m_out.clear();
        Compositor weston;
        QVERIFY2(weston.start({"weston", "--backend=headless-backend.so", "--idle-time=0"}, nullptr),
                 weston.process.readAll().constData());
        MainFormFixture root;
        QProcess dialer;
        auto stopDialer = qScopeGuard([&] {
            dialer.kill();
            dialer.waitForFinished(5000);
        });
        QVERIFY2(startDialer(dialer, weston, root), m_out);
        const QByteArray notice = "only to the window that has the focus";
        QVERIFY2(QTest::qWaitFor([&] { return dialerSaid(dialer, notice); }, 10000), m_out);
        QCOMPARE(m_out.count(notice), 1);
    }
};

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--dialer") == 0) return runDialer(QString::fromLocal8Bit(argv[2]));
    TestWaylandE2e test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wayland_e2e.moc"
