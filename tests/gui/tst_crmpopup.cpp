// The caller-ID pop-up on the real window: the CRM page's address reaches the browser whole
// (values with "&", "=", "#" and blanks included); the datalink path hands the number over in
// a file named after the caller ID and clears the folder's .txt files ten seconds later; a caller
// ID that is no safe file name writes nothing.

#include "support/MainFormFixture.h"

#include "app/MainForm.h"
#include "ui_MainForm.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

#include <functional>

using namespace corvid;
using namespace corvid::test;

namespace {

// Clicks "PoP CID" (the click returns when the pop-up's wait is over) and runs during() while the
// button waits.
void clickDuringWait(QPushButton* button, const std::function<void()>& during) {
    QTimer::singleShot(300, button, during);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestCrmPopup : public QObject {
    Q_OBJECT
private slots:
    void webPathOpensTheWholeAddress() {
        MainFormFixture f;
        f.writeSettings({{QStringLiteral("CrmHost"), QStringLiteral("127.0.0.1:8081")}});
        f.create();
        Ui::MainForm& ui = f.ui();
        ui.LMUsetTxt->setText(QStringLiteral("ann"));
        ui.LMPassTxt->setText(QStringLiteral("p=1"));
        ui.LMWorkGroupTxT->setText(QStringLiteral("R&D #2"));
        ui.CIDTxt->setText(QStringLiteral("5551234567 "));
        bool enabledDuringWait = true;
        clickDuringWait(ui.CIDPush, [&] { enabledDuringWait = ui.CIDPush->isEnabled(); });
        QVERIFY(!enabledDuringWait);
        QVERIFY(ui.CIDPush->isEnabled());
        QVERIFY(ui.CIDTxt->text().isEmpty());

        // The address as the browser is given it.
        QCOMPARE(f.fakes.desktop.urls.size(), 1);
        QCOMPARE(f.fakes.desktop.urls.first().toEncoded(),
                 QByteArray("http://127.0.0.1:8081/lm_sp.asp?u=ann&p=p%3D1&w=R%26D%20%232&phone=5551234567"));
    }

    // The file lives for the ten seconds of the wait; then every .txt of the folder goes. A caller
    // ID that is a path names no file: nothing is written anywhere under the root.
    void datalinkPathWritesThenClearsTheFolder() {
        MainFormFixture f;
        f.writeFile(QStringLiteral("datalink/other.TXT"), "x");
        f.writeFile(QStringLiteral("datalink/keep.dia"), "");
        f.create();
        Ui::MainForm& ui = f.ui();
        ui.CIDTxt->setText(QStringLiteral("5551234567"));
        ui.EditPhoneNo->setText(QStringLiteral("5551234567"));
        QByteArray handedOver;
        bool enabledDuringWait = true;
        clickDuringWait(ui.CIDPush, [&] {
            handedOver = f.readFile(QStringLiteral("datalink/5551234567.txt"));
            enabledDuringWait = ui.CIDPush->isEnabled();
        });
        QCOMPARE(handedOver, QByteArray("\"5551234567\"\r\n"));
        QVERIFY(!enabledDuringWait);
        QCOMPARE(QDir(f.root().datalink()).entryList(QDir::Files), QStringList{QStringLiteral("keep.dia")});
        QVERIFY(ui.CIDTxt->text().isEmpty());
        QVERIFY(f.fakes.desktop.urls.isEmpty());

        ui.CIDTxt->setText(QStringLiteral("../x"));
        const QStringList before = treeOf(f.rootPath());
        QStringList during;
        clickDuringWait(ui.CIDPush, [&] { during = treeOf(f.rootPath()); });
        QCOMPARE(during, before);
    }
};

QTEST_MAIN(TestCrmPopup)
#include "tst_crmpopup.moc"
