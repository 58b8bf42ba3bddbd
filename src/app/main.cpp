// corvid-dialer: the softphone and power dialer.
//
//   corvid-dialer [--root DIR]
//
// The install root is DIR, else $CALLDECK_ROOT, else the platform default. Other options (such
// as the web engine's own) are left alone.

#include "app/MainForm.h"
#include "phone/OnlineControl.h"
#include "engine/linphone/LinphoneEngine.h"
#include "platform/InstallRoot.h"
#include "platform/QtServices.h"
#include "platform/SingleInstance.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char* argv[]) {
    // The embedded web engine shares the window's OpenGL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
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

    corvid::QtServices services;
    corvid::LinphoneEngine::Options engineOptions;
    engineOptions.dataDir = root.engineDataDir();
    engineOptions.outboundProxy = corvid::ReadIniKey(root.settingsFile(), QString::fromLatin1(corvid::keys::System),
                                                     QString::fromLatin1(corvid::keys::SipOutboundProxy))
                                      .trimmed();
    corvid::LinphoneEngine engine(engineOptions);
    corvid::MainForm window(root, services.services(), &engine);
    // Every going online reads the outbound proxy again, like the rest of the account.
    window.context().subsystems.online->setOutboundProxyHook([&engine](const QString& hostPort) {
        corvid::LinphoneEngine::Options options = engine.options();
        options.outboundProxy = hostPort;
        engine.setOptions(options);
    });
    window.show();
    return app.exec();
}
