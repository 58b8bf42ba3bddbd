// A web CRM drives the real window on the real engine through the loopback HTTP control: the
// example page, served from a loopback origin and loaded in headless Chromium, checks that the
// dialer holds its token, is refused while Click to dial is off, then dials a customer's number,
// shows the call connected, hangs up and shows the seconds the call log received.

#include "support/BedWindow.h"

#include "integrations/HttpControl.h"

#include <QProcess>
#include <QtTest>

using namespace corvid;
using namespace corvid::test;

class TestHttpControlE2e : public QObject {
    Q_OBJECT
    BedRun m_run;

private Q_SLOTS:
    void initTestCase() {
        if (!QFile::exists(QStringLiteral("/usr/bin/chromedriver")))
            QSKIP("Chromium's driver is not installed (scripts/install-deps testbed installs it)");
        QVERIFY(m_run.start());
    }
    void cleanupTestCase() { QVERIFY(m_run.stop()); }

    void aPageDialsFollowsAndHangsUp() {
        const quint16 control = quint16(freeTcpPort()), page = quint16(freeTcpPort());
        auto window =
            m_run.window({{QStringLiteral("HttpControl"), QStringLiteral("True")},
                          {QStringLiteral("HttpControlPort"), QString::number(control)},
                          {QStringLiteral("HttpControlOrigins"), QStringLiteral("http://127.0.0.1:%1").arg(page)}});
        QVERIFY(window);
        HttpControl* http = window->fixture.ctx().subsystems.httpControl;

        const QString number = QStringLiteral("9005550042");
        QProcess browser;
        browser.setProcessChannelMode(QProcess::MergedChannels);
        browser.start(QStringLiteral("/usr/bin/python3"), // Debian's, which has Selenium
                      {QStringLiteral(CORVID_SOURCE_DIR "/tests/e2e/browser_control.py"),
                       QStringLiteral(CORVID_SOURCE_DIR "/assets/web/corvid-control.html"), QString::number(page),
                       QString::number(control), QString::fromLatin1(http->token()), number});
        QByteArray output;
        QVERIFY(QTest::qWaitFor(
            [&] {
                return (output += browser.readAll()).contains("REFUSED") || browser.state() == QProcess::NotRunning;
            },
            60000));
        QVERIFY2(output.contains("REFUSED 409 Click to dial is off"), output);
        window->ui().autoCheck->setChecked(true);
        browser.write("\n");
        QVERIFY(QTest::qWaitFor([&] { return (output += browser.readAll()).contains("CONNECTED") ||
                                             browser.state() == QProcess::NotRunning; }, 60000));
        QVERIFY2(output.contains("CONNECTED"), output);

        QVERIFY(QTest::qWaitFor([&] { output += browser.readAll(); return browser.state() == QProcess::NotRunning; }, 60000));
        output += browser.readAll();
        QVERIFY2(browser.exitCode() == 0, output);
        QVERIFY(m_run.bed->farEndMessages(SipTestBed::FarEnd::Answer).contains(QStringLiteral("BYE sip:")));
        const QByteArray seconds = output.mid(output.indexOf("SECONDS=") + 8).trimmed();
        QVERIFY2(seconds.toInt() >= 2, output);
        QVERIFY2(window->hasRow(0, number, QStringLiteral("hang up")) && window->rowSeconds() == seconds.toInt(),
                 qPrintable(window->callLogRows().value(0)));
    }
};

QTEST_MAIN(TestHttpControlE2e)
#include "tst_httpcontrol_e2e.moc"
