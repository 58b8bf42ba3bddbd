// corvid-dialer: the softphone and power dialer.
//
//   corvid-dialer [--root DIR]
//
// The install root is DIR, else $CALLDECK_ROOT, else the platform default. Other options (such
// as the web engine's own) are left alone. Started as root, the program runs the PBX page's web
// engine without its sandbox (the engine's helper refuses to run as root inside it).

#include "app/MainForm.h"
#include "app/Shutdown.h"
#include "app/Startup.h"
#include "engine/linphone/LinphoneEngine.h"
#include "phone/OnlineControl.h"
#include "platform/InstallRoot.h"
#include "platform/QtServices.h"
#include "platform/SingleInstance.h"
#include "platform/StopSignals.h"
#include "platform/WaylandSession.h"
#include "platform/Supervisor.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// The web engine's helper process will not start as root inside its sandbox, and without it the
// page's engine takes the whole process down. The page is only a convenience, so as root the
// sandbox is switched off, unless whoever started the program already chose (either variable, or
// --no-sandbox among the arguments).
// Must run before the application object exists: the engine reads the variables once.
void letTheWebEngineRunAsRoot(int argc, char* argv[]) {
#if defined(CORVID_WITH_WEBENGINE) && defined(Q_OS_UNIX)
    if (geteuid() != 0) return;
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "--no-sandbox") == 0) return; // the engine reads its switches from the arguments too
    if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) return;
    if (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").contains("--no-sandbox")) return;
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    std::fprintf(stderr, "corvid-dialer: running as root: the PBX page's web engine runs without its sandbox "
                         "(QTWEBENGINE_DISABLE_SANDBOX=1)\n");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

// In a Wayland session the dialer picks its platform plugin itself (the rule is in WaylandSession.h),
// unless the agent chose one with QT_QPA_PLATFORM or -platform. Must run before the application.
void choosePlatformForTheSession(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0) return;
    const QByteArray platform =
        corvid::platformForSession(qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"), qgetenv("DISPLAY"));
    if (!platform.isEmpty()) qputenv("QT_QPA_PLATFORM", platform);
}

// Whether the settings of the install root the arguments name embed the PBX page (PbxPageEmbedded
// is not False). Read before the application exists, from the same root it will use.
bool pbxPageEmbedded(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const corvid::InstallRoot root(corvid::InstallRoot::resolve(arguments));
    return corvid::ReadIniKey(root.settingsFile(), QString::fromLatin1(corvid::keys::System),
                              QStringLiteral("PbxPageEmbedded"))
               .trimmed() != QLatin1String("False");
}

} // namespace

int main(int argc, char* argv[]) {
    letTheWebEngineRunAsRoot(argc, argv);
    choosePlatformForTheSession(argc, argv);
    // The program started from outside is the dialer's watchdog; the dialer runs in its child.
    if (const int watchdogExit = corvid::supervisor::run(argv); watchdogExit >= 0) return watchdogExit;
    // The embedded web engine shares the window's OpenGL contexts; this must precede the application.
    // That shared context loads the system's OpenGL at start (with software rendering some 40 MiB
    // and two threads a seat), so a dialer whose page is only a link goes without it.
    if (pbxPageEmbedded(argc, argv)) QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // No display name: the platform would append it to the window title, which other programs read.
    QApplication::setApplicationName(QStringLiteral("CorvidDialer"));
    QApplication::setApplicationVersion(QStringLiteral(CORVID_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption rootOption(QStringLiteral("root"), QStringLiteral("The install root."),
                                        QStringLiteral("DIR"));
    parser.addOption(rootOption);
    parser.parse(QApplication::arguments()); // unknown options are not an error here
    QStringList rootArguments{QApplication::arguments().value(0)};
    if (parser.isSet(rootOption)) rootArguments << QStringLiteral("--root") << parser.value(rootOption);
    const QString rootDir = corvid::InstallRoot::resolve(rootArguments);

    // The previous-instance test comes before anything else touches the root.
    corvid::SingleInstance instance(rootDir);
    switch (instance.tryAcquire()) {
    case corvid::SingleInstance::Result::HeldByAnother:
        return 1;
    case corvid::SingleInstance::Result::Unavailable:
        std::fprintf(stderr, "corvid-dialer: cannot lock the install root %s; running without the instance lock\n",
                     qPrintable(rootDir));
        break;
    case corvid::SingleInstance::Result::Acquired:
        break;
    }

    const corvid::InstallRoot root(rootDir);
    root.createMissingFolders();
    root.makePrivate(); // an upgraded or demo root: the settings file and the folders become the agent's

    corvid::QtServices services;
    corvid::LinphoneEngine::Options engineOptions;
    engineOptions.dataDir = root.engineDataDir();
    engineOptions.outboundProxy = corvid::ReadIniKey(root.settingsFile(), QString::fromLatin1(corvid::keys::System),
                                                     QString::fromLatin1(corvid::keys::SipOutboundProxy))
                                      .trimmed();
    corvid::LinphoneEngine engine(engineOptions);
    corvid::MainForm window(root, services.services(), &engine);
    corvid::supervisor::Restart restart;
    if (corvid::supervisor::takeRestart(restart))
        corvid::NoteRestartAfterFailure(window.context(), corvid::supervisor::signalText(restart.signal), restart.when);
    // Every going online reads the outbound proxy again, like the rest of the account.
    window.context().subsystems.online->setOutboundProxyHook([&engine](const QString& hostPort) {
        corvid::LinphoneEngine::Options options = engine.options();
        options.outboundProxy = hostPort;
        engine.setOptions(options);
    });
    window.context().subsystems.online->setSecurityHook([&engine](const corvid::SipSecurity& security) {
        corvid::LinphoneEngine::Options options = engine.options();
        options.security = security;
        engine.setOptions(options);
    });
    // Stopped from outside (a service manager, a closing session or terminal), the program closes as
    // the agent's File > exit would: live calls hung up with their rows, a running call end finished.
    corvid::StopSignals stopSignals;
    QObject::connect(&stopSignals, &corvid::StopSignals::stopRequested, &window,
                     [&window] { window.shutdown().run(); });
    window.show();
    return app.exec();
}
