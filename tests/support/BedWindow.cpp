#include "support/BedWindow.h"

#include "integrations/PbxPage.h"
#include "phone/OnlineControl.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>

namespace corvid::test {

bool BedRun::start(const SipTestBed::Options& options) {
    bed = std::make_unique<SipTestBed>(options);
    const bool ok = work.isValid() && bed->start();
    if (!ok) qWarning("test bed not started: %s", qPrintable(bed->errorString()));
    return ok;
}

bool BedRun::stop(QList<qint64> others) {
    if (bed) others += bed->processIds();
    bed.reset();
    return std::none_of(others.cbegin(), others.cend(), processGroupAlive);
}

QString BedRun::tone(int hz, int ms) {
    const QString path = work.filePath(QStringLiteral("tone%1_%2.wav").arg(hz).arg(ms));
    if (!QFile::exists(path) && !writeToneWave(path, hz, ms)) qWarning("%s not written", qPrintable(path));
    return path;
}

bool hearsTone(const QString& wave, int hz, int skipMs, int quietHz) {
    const double level = toneLevel(wave, hz, skipMs), quiet = toneLevel(wave, quietHz, skipMs);
    if (level > 0.02 && level > 10 * quiet) return true;
    qWarning("%s: %d Hz at %.4f, %d Hz at %.4f", qPrintable(wave), hz, level, quietHz, quiet);
    return false;
}

Settings BedWindow::settings(const SipTestBed& bed, const Setup& setup) {
    const QString provider = SipTestBed::providerDomain();
    const BedAccount& a = setup.account;
    // Characters 3-6 of the customer number: the bed's PBX; 7-10 the login; 11-20 the password.
    const QString proxy = QStringLiteral("1234.") + provider;
    Settings settings = setup.extra; // the first of a key is the one read
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
    return settings;
}

void BedWindow::start(const SipTestBed& bed, const Setup& setup) {
    m_displayName = setup.displayName;
    fixture.writeSettings(settings(bed, setup));

    LinphoneEngine::Options options;
    options.dataDir = fixture.root().engineDataDir();
    options.playFile = setup.playFile;
    engine = std::make_unique<LinphoneEngine>(options);
    LinphoneEngine* e = engine.get();
    attach(fixture.create(e), e, &logLines);
}

void BedWindow::attach(MainForm& window, LinphoneEngine* e, QStringList* log) {
    // As the program does: the outbound proxy of the settings reaches the engine on going online.
    window.context().subsystems.online->setOutboundProxyHook([e](const QString& hostPort) {
        LinphoneEngine::Options o = e->options();
        o.outboundProxy = hostPort;
        e->setOptions(o);
    });
    window.context().subsystems.online->setSecurityHook([e](const SipSecurity& security) {
        LinphoneEngine::Options o = e->options();
        o.security = security;
        e->setOptions(o);
    });
    QAbstractItemModel* model = window.form()->ListStatusLog->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &window,
                     [log, model](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row)
                             *log << model->index(row, 0).data().toString();
                     });
    window.form()->CheckEchoCancel->setChecked(false);
    window.form()->CheckCaptureSoundDevice->setChecked(false);
}

bool BedWindow::waitRegistered(int ms) const {
    const bool ok =
        QTest::qWaitFor([this] { return fixture.statusLog() == QStringList{QStringLiteral("Ready...")}; }, ms);
    if (!ok)
        qWarning("not registered; status log: %s; messages: %s", qPrintable(logLines.join(" | ")),
                 qPrintable(fixture.fakes.messages.texts().join(" | ")));
    return ok;
}

BedWindow::~BedWindow() {
    if (engine) engine->EngineStop();
    QTest::qWait(0);
}

void BedWindow::dial(const QString& number) const {
    ui().EditPhoneNo->setText(number);
    QTest::mouseClick(ui().BtnDial, Qt::LeftButton);
}

bool BedWindow::connected(int line) const {
    return waitLogged(QStringLiteral("Line- %1: Success to connect.").arg(line));
}

bool BedWindow::waitLogged(const QString& line, int ms) const {
    const bool ok = QTest::qWaitFor([&] { return logged(line); }, ms);
    if (!ok) qWarning("no \"%s\"; status log: %s", qPrintable(line), qPrintable(logLines.join(" | ")));
    return ok;
}

QStringList BedWindow::callLogRows() const {
    QFile file(fixture.root().logFile(m_displayName + QStringLiteral("_calllogs.csv")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(file.readAll());
    if (text.isEmpty()) return {};
    if (!text.endsWith(QLatin1String("\r\n"))) return {QStringLiteral("(no CR LF at the end) ") + text};
    return text.chopped(2).split(QStringLiteral("\r\n"));
}

bool BedWindow::hasRow(int index, const QString& number, const QString& result) const {
    const QString row = callLogRows().value(index);
    return row.startsWith(QStringLiteral("\"%1\",\"%2\",").arg(number, m_displayName)) &&
           row.endsWith(QStringLiteral(",\"%1\"").arg(result));
}

int BedWindow::rowSeconds(int index) const {
    return callLogRows().value(index).section(QLatin1Char(','), 2, 2).remove(QLatin1Char('"')).toInt();
}

QStringList BedWindow::recordings() const {
    const QDir dir(fixture.root().messages());
    QStringList paths;
    for (const QString& name : dir.entryList({QStringLiteral("*.wav")}, QDir::Files))
        paths << dir.filePath(name);
    return paths;
}

namespace {
LinphoneEngine::Options programEngineOptions(const InstallRoot& root) {
    LinphoneEngine::Options options;
    options.dataDir = root.engineDataDir();
    return options;
}
} // namespace

ProgramWindow::ProgramWindow(const InstallRoot& root)
    : engine(programEngineOptions(root)), window(root, services.services(), &engine) {
    window.context().subsystems.pbxPage->setPageLoader([](const QUrl&) {});
    BedWindow::attach(window, &engine, &log);
}

} // namespace corvid::test
