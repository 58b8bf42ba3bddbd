// The main window's panels: the key-pad toggle with the position file and the transfer list, and
// the tools the context menus start.

#include "support/MainFormFixture.h"

#include "app/Panels.h"
#include "ui_MainForm.h"

#include <QDir>
#include <QMenu>
#include <QTest>

using namespace corvid;
using namespace corvid::test;

namespace {

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
    // The toggle sizes the window and writes its position; each toggle reloads the transfer list
    // (it does not grow) and keeps the chosen transfer number.
    void keyPadToggleSizesTheWindowAndReloadsTheTransferList() {
        MainFormFixture f;
        f.writeSettings({{"TransferNumber", "5550001111 Front desk"}});
        QByteArray transfer;
        for (int i = 0; i < 120; ++i)
            transfer += QByteArray::number(5550000000LL + i) + " Name " + QByteArray::number(i) + "\r\n";
        f.writeFile("bin/transfer.txt", transfer);
        f.create();
        f.window().move(80, 60); // 1200 and 900 twips
        QTRY_COMPARE(f.window().pos(), QPoint(80, 60));
        const QPoint box(6, f.ui().expChk->height() / 2);
        QTest::mouseClick(f.ui().expChk, Qt::LeftButton, {}, box);
        QCOMPARE(f.window().size(), QSize(515, 375));
        QCOMPARE(f.readFile("bin/buttonprg.ini"), QByteArray("[System]\r\nLeft=1200\r\nTop=900\r\n"));
        const QStringList first = comboItems(f.ui().EditTransferPhoneNo);
        QCOMPARE(first.size(), 99);
        QCOMPARE(first.last(), QStringLiteral("5550000098 Name 98"));

        // Unticked, only the left part is shown.
        f.writeFile("bin/transfer.txt", "111,\"222, Bob\"\r\n");
        QTest::mouseClick(f.ui().expChk, Qt::LeftButton, {}, box);
        QCOMPARE(f.window().size(), QSize(256, 375));
        QCOMPARE(comboItems(f.ui().EditTransferPhoneNo), (QStringList{"111", "222, Bob"}));
        QCOMPARE(f.ui().EditTransferPhoneNo->currentText(), QStringLiteral("5550001111 Front desk"));
    }

    void contextMenuChoiceRuns_data() {
        QTest::addColumn<bool>("fromStatusLog");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("program"); // relative to the root, no arguments; empty: none started
        QTest::addColumn<QString>("url");     // empty: none opened
        QTest::newRow("4 from status log") << true << 4 << QStringLiteral("apps/cmsgplayer") << QString();
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

        QStringList started;
        for (const FakeProcessLauncher::Start& start : f.fakes.processes.starts)
            started << QDir(f.rootPath()).relativeFilePath(start.program) + start.arguments.join(' ');
        QCOMPARE(started, program.isEmpty() ? QStringList() : QStringList{program});
        QCOMPARE(f.fakes.desktop.urls, url.isEmpty() ? QVector<QUrl>() : QVector<QUrl>{QUrl(url)});
    }
};

QTEST_MAIN(TestPanels)
#include "tst_panels.moc"
