// The main window's panels: the key-pad toggle with the position file and the transfer list, the
// show and hide gestures, and the context menus of the status log and the status caption.

#include "support/MainFormFixture.h"

#include "app/Panels.h"
#include "settings/IniFile.h"
#include "ui_MainForm.h"

#include <QAction>
#include <QMenu>
#include <QTest>

using namespace corvid;
using namespace corvid::test;

namespace {

struct MenuEntry {
    QString text;
    int code;
    bool enabled;
};

QList<MenuEntry> entries(QMenu& menu) {
    QList<MenuEntry> out;
    for (QAction* action : menu.actions())
        if (!action->isSeparator()) out.append({action->text(), action->data().toInt(), action->isEnabled()});
    return out;
}

QStringList comboItems(const QComboBox* combo) {
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

} // namespace

class TestPanels : public QObject {
    Q_OBJECT
private slots:
    void keyPadToggleSizesTheWindowAndWritesItsPosition() {
        MainFormFixture f;
        f.create();
        f.window().move(80, 60); // 1200 and 900 twips
        QTRY_COMPARE(f.window().pos(), QPoint(80, 60));
        f.ui().Frame2->show();
        QVERIFY(!f.ui().audioFrm->isHidden());

        QTest::mouseClick(f.ui().expChk, Qt::LeftButton, {}, QPoint(6, f.ui().expChk->height() / 2));
        QVERIFY(f.ui().expChk->isChecked());
        QCOMPARE(f.window().size(), QSize(515, 375));
        QCOMPARE(f.ui().leftTxt->text(), QStringLiteral("1200"));
        QCOMPARE(f.ui().topTxT->text(), QStringLiteral("900"));
        QCOMPARE(f.readFile("bin/buttonprg.ini"), QByteArray("[System]\r\nLeft=1200\r\nTop=900\r\n"));
        QVERIFY(f.ui().Frame2->isHidden());
        QVERIFY(f.ui().audioFrm->isHidden());

        // Unticked, only the left part is shown; the position is written again.
        f.window().move(100, 40);
        QTRY_COMPARE(f.window().pos(), QPoint(100, 40));
        QTest::mouseClick(f.ui().expChk, Qt::LeftButton, {}, QPoint(6, f.ui().expChk->height() / 2));
        QCOMPARE(f.window().size(), QSize(256, 375));
        QCOMPARE(f.readFile("bin/buttonprg.ini"), QByteArray("[System]\r\nLeft=1500\r\nTop=600\r\n"));
        QVERIFY(f.ui().audioFrm->isHidden());
    }

    void keyPadToggleReloadsTheTransferList() {
        MainFormFixture f;
        f.writeSettings({{"TransferNumber", "5550001111 Front desk"}, {"Forward", "5552223333"}});
        QByteArray transfer;
        for (int i = 0; i < 120; ++i)
            transfer += QByteArray::number(5550000000LL + i) + " Name " + QByteArray::number(i) + "\r\n";
        f.writeFile("bin/transfer.txt", transfer);
        f.create();
        QCOMPARE(f.ui().EditTransferPhoneNo->count(), 0); // start-up sets only the text

        f.ui().EditForwardCallPhoneNo->setText(QStringLiteral("typed"));
        f.ui().expChk->setChecked(true);
        const QStringList first = comboItems(f.ui().EditTransferPhoneNo);
        QCOMPARE(first.size(), 99);
        QCOMPARE(first.first(), QStringLiteral("5550000000 Name 0"));
        QCOMPARE(first.last(), QStringLiteral("5550000098 Name 98"));
        QCOMPARE(f.ui().EditTransferPhoneNo->currentText(), QStringLiteral("5550001111 Front desk"));
        QCOMPARE(f.ui().EditForwardCallPhoneNo->text(), QStringLiteral("5552223333"));

        // Each toggle reloads: the list does not grow.
        f.writeFile("bin/transfer.txt", "111,\"222, Bob\"\r\n");
        f.ui().expChk->setChecked(false);
        QCOMPARE(comboItems(f.ui().EditTransferPhoneNo), (QStringList{"111", "222, Bob"}));
        QCOMPARE(f.ui().EditTransferPhoneNo->currentText(), QStringLiteral("5550001111 Front desk"));
    }

    void keyPadToggleWithoutTransferFile() {
        MainFormFixture f;
        f.writeSettings({{"TransferNumber", "5550001111"}});
        f.create();
        f.ui().EditTransferPhoneNo->addItem(QStringLiteral("stale"));
        f.ui().expChk->setChecked(true);
        QCOMPARE(f.ui().EditTransferPhoneNo->count(), 0);
        QCOMPARE(f.ui().EditTransferPhoneNo->currentText(), QStringLiteral("5550001111"));
        QVERIFY(f.fileExists("bin/buttonprg.ini"));
    }

    void audioFrameHidesOnDoubleClick() {
        MainFormFixture f;
        f.create();
        f.ui().RightPages->setCurrentWidget(f.ui().PageAudio);
        QVERIFY(f.ui().audioFrm->isVisible());
        QTest::mouseDClick(f.ui().audioFrm, Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(f.ui().audioFrm->isHidden());
    }

    void incomingPanelOpensAndCloses() {
        MainFormFixture f;
        f.create();
        QVERIFY(f.ui().InBoundFrm->isHidden());
        QTest::mouseClick(f.ui().Label1, Qt::LeftButton);
        QVERIFY(f.ui().InBoundFrm->isVisible());
        QCOMPARE(f.ui().RightPages->currentWidget(), f.ui().PageIncoming);
        // A double click on it opens the CRM settings beside it.
        QVERIFY(f.ui().LMFrame->isHidden());
        QTest::mouseDClick(f.ui().InBoundFrm, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(f.ui().LMFrame->isVisible());
        QVERIFY(f.ui().InBoundFrm->isVisible());
        // A second click changes nothing.
        f.ui().CIDTxt->setText(QStringLiteral("5551234567"));
        QTest::mouseClick(f.ui().Label1, Qt::LeftButton);
        QVERIFY(f.ui().InBoundFrm->isVisible());
        QCOMPARE(f.ui().CIDTxt->text(), QStringLiteral("5551234567"));
        // ctPush1 hides the panel and empties the caller id, ringing or not.
        QTest::mouseClick(f.ui().ctPush1, Qt::LeftButton);
        QVERIFY(f.ui().InBoundFrm->isHidden());
        QVERIFY(f.ui().CIDTxt->text().isEmpty());
        // A right click on the label opens nothing.
        QTest::mouseClick(f.ui().Label1, Qt::RightButton);
        QVERIFY(f.ui().InBoundFrm->isHidden());
    }

    void contextMenusOfferTheirEntries_data() {
        QTest::addColumn<bool>("fromStatusLog");
        QTest::addColumn<bool>("withAddresses");
        QTest::newRow("status log") << true << false;
        QTest::newRow("status caption, addresses set") << false << true;
    }

    void contextMenusOfferTheirEntries() {
        QFETCH(bool, fromStatusLog);
        QFETCH(bool, withAddresses);
        MainFormFixture f;
        if (withAddresses)
            f.writeSettings({{"PolicyUrl", "https://example.com/policy.pdf"}, {"HelpUrl", "https://example.com/help"}});
        f.create();
        f.ui().expChk->setChecked(true);
        QList<MenuEntry> seen;
        int choiceWhileOpen = -1;
        f.window().panels().setMenuRunner([&](QMenu& menu, const QPoint&) {
            seen = entries(menu);
            choiceWhileOpen = f.window().panels().menuChoice();
            return 0;
        });
        QWidget* target = fromStatusLog ? static_cast<QWidget*>(f.ui().ListStatusLog) : f.ui().mouseMenu;
        emit target->customContextMenuRequested(QPoint(5, 5));

        QCOMPARE(choiceWhileOpen, 0);
        QCOMPARE(seen.size(), 5);
        const int codes[] = {4, 5, 6, 7, 8};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(seen[i].code, codes[i]);
            QVERIFY(!seen[i].text.isEmpty());
        }
        QCOMPARE(seen[0].text,
                 fromStatusLog ? QStringLiteral("Call Message Player") : QStringLiteral("Message Player"));
        QCOMPARE(seen[2].enabled, withAddresses);
        QCOMPARE(seen[3].enabled, withAddresses);
        QVERIFY(seen[0].enabled && seen[1].enabled && seen[4].enabled);
        // Closed without a choice: the key pad is hidden and nothing runs.
        QVERIFY(!f.ui().expChk->isChecked());
        QCOMPARE(f.window().size().width(), 256);
        QVERIFY(f.fakes.processes.starts.isEmpty());
        QVERIFY(f.fakes.desktop.urls.isEmpty());
    }

    void contextMenuChoiceRuns_data() {
        QTest::addColumn<bool>("fromStatusLog");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("program"); // relative to the root; empty: none started
        QTest::addColumn<QString>("url");     // empty: none opened
        QTest::newRow("4 from status log") << true << 4 << QStringLiteral("apps/cmsgplayer") << QString();
        QTest::newRow("4 from status caption") << false << 4 << QStringLiteral("apps/msgplayer") << QString();
        QTest::newRow("6") << false << 6 << QString() << QStringLiteral("https://example.com/policy.pdf");
        QTest::newRow("8") << true << 8 << QStringLiteral("bin/helpview") << QString();
    }

    void contextMenuChoiceRuns() {
        QFETCH(bool, fromStatusLog);
        QFETCH(int, code);
        QFETCH(QString, program);
        QFETCH(QString, url);
        MainFormFixture f;
        f.writeSettings({{"PolicyUrl", "https://example.com/policy.pdf"}, {"HelpUrl", "https://example.com/help"}});
        f.create();
        f.window().panels().setMenuRunner([&](QMenu&, const QPoint&) { return code; });
        QWidget* target = fromStatusLog ? static_cast<QWidget*>(f.ui().ListStatusLog) : f.ui().mouseMenu;
        emit target->customContextMenuRequested(QPoint(5, 5));

        QCOMPARE(f.window().panels().menuChoice(), code);
        if (program.isEmpty()) {
            QVERIFY(f.fakes.processes.starts.isEmpty());
        } else {
            QCOMPARE(f.fakes.processes.starts.size(), 1);
            QString expected = f.rootPath() + QLatin1Char('/') + program;
#ifdef Q_OS_WIN
            expected += QStringLiteral(".exe");
#endif
            QCOMPARE(f.fakes.processes.starts.first().program, expected);
            QVERIFY(f.fakes.processes.starts.first().arguments.isEmpty());
        }
        if (url.isEmpty())
            QVERIFY(f.fakes.desktop.urls.isEmpty());
        else
            QCOMPARE(f.fakes.desktop.urls, QVector<QUrl>{QUrl(url)});
    }
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
