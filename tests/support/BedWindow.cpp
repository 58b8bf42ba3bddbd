#include "support/BedWindow.h"

#include "phone/OnlineControl.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QTest>

namespace corvid::test {

void BedWindow::start(const SipTestBed& bed, const Setup& setup) {
    const QString provider = SipTestBed::providerDomain();
    const BedAccount& a = setup.account;
    // Characters 3-6 of the customer number: the bed's PBX; 7-10 the login; 11-20 the password.
    const QString proxy = QStringLiteral("1234.") + provider;
    QList<QPair<QString, QString>> settings = setup.extra; // the first of a key is the one read
    settings += {{QStringLiteral("customerNumber"), QStringLiteral("DM1234") + a.user + a.password},
                 {QStringLiteral("Password"), a.password},
                 {QStringLiteral("Login"), a.user},
                 {QStringLiteral("AuthLogin"), a.user},
                 {QStringLiteral("OutBoundProxy"), proxy},
                 {QStringLiteral("SIPProxy"), proxy},
                 {QStringLiteral("Mon"), QStringLiteral("True")},
                 {QStringLiteral("ProviderDomain"), provider},
                 {QStringLiteral("SipOutboundProxy"), bed.proxyAddress()}};
    if (!setup.displayName.isEmpty()) settings += {QStringLiteral("DisplayName"), setup.displayName};
    m_displayName = setup.displayName;
    fixture.writeSettings(settings);

    LinphoneEngine::Options options;
    options.dataDir = fixture.root().engineDataDir();
    options.playFile = setup.playFile;
    engine = std::make_unique<LinphoneEngine>(options);
    LinphoneEngine* e = engine.get();
    MainForm& window = fixture.create(e);
    // As the program does: the outbound proxy of the settings reaches the engine on going online.
    window.context().subsystems.online->setOutboundProxyHook([e](const QString& hostPort) {
        LinphoneEngine::Options o = e->options();
        o.outboundProxy = hostPort;
        e->setOptions(o);
    });
    QAbstractItemModel* model = ui().ListStatusLog->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &window,
                     [this, model](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             logLines << model->index(row, 0).data().toString();
                     });
    ui().CheckEchoCancel->setChecked(false);
    ui().CheckCaptureSoundDevice->setChecked(false);
}

bool BedWindow::waitRegistered(int ms) const {
    const bool ok =
        QTest::qWaitFor([this] { return fixture.statusLog() == QStringList{QStringLiteral("Ready...")}; }, ms);
    if (!ok)
        qWarning("not registered; status log: %s; messages: %s", qPrintable(logLines.join(" | ")),
                 qPrintable(fixture.fakes.messages.texts().join(" | ")));
    return ok;
}

void BedWindow::stop() {
    if (engine) engine->EngineStop();
    QTest::qWait(0);
}

bool BedWindow::waitLogged(const QString& line, int ms) const {
    const bool ok = QTest::qWaitFor([&] { return logged(line); }, ms);
    if (!ok) qWarning("no \"%s\"; status log: %s", qPrintable(line), qPrintable(logLines.join(" | ")));
    return ok;
}

QStringList BedWindow::callLogRows() const {
    QFile file(fixture.root().logFile(m_displayName + QStringLiteral("_calllogs.csv")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace corvid::test
