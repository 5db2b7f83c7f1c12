// The server list dialog offscreen: its search pointed at the sandbox's server browser
// on loopback, and the choice handed back to the logon dialog.

#include "settings/Savedservers.h"
#include "tests/support/Fakeserverconnector.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Settingsfixture.h"
#include "ui/Banner.h"
#include "ui/Dialoglayout.h"
#include "ui/Formlogon.h"
#include "ui/Formserverlist.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QtTest>

class TestFormServerList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void controlsAsLaidOut();
    void choiceGoesBackToTheLogonDialog_data();
    void choiceGoesBackToTheLogonDialog();
    void searchingAgainListsEachServerOnce();
    void closingWhileSearching();

private:
    std::unique_ptr<TSandboxFixture> FSandbox;
    std::unique_ptr<TSettingsFixture> FSettings;
    QStringList FNames; // what the sandbox's browser announces, as listed
};

void TestFormServerList::initTestCase()
{
    // A font as small as the one the dialog was designed for: the layout is the design's.
    QFont designFont = QApplication::font();
    designFont.setPixelSize(9);
    QApplication::setFont(designFont);
    FSandbox = std::make_unique<TSandboxFixture>();
    QVERIFY2(FSandbox->Started(), FSandbox->Error().c_str());
    qputenv("TORVANE_BROWSE_ADDRESS", "127.0.0.1:" + QByteArray::number(FSandbox->Server().BrowsePort()));
    for (const std::string& name : FSandbox->Server().BrowseServerNames())
        FNames << QString::fromStdString(name);
    QCOMPARE(FNames.size(), 2);
}

void TestFormServerList::init()
{
    FSettings = std::make_unique<TSettingsFixture>();
}

void TestFormServerList::cleanup()
{
    FSettings.reset();
}

void TestFormServerList::controlsAsLaidOut()
{
    TFormServerList dialog;
    // The design's layout in the layout unit.
    const double scale = LayoutScale(dialog.font());
    const auto unit = [scale](int x, int y, int w, int h) {
        return QRect(LayoutPixels(x, scale), LayoutPixels(y, scale), LayoutPixels(w, scale), LayoutPixels(h, scale));
    };
    QCOMPARE(dialog.windowTitle(), QString("SQL Server List"));
    QCOMPARE(dialog.size(), unit(0, 0, 325, 373).size());
    QCOMPARE(dialog.Image1->geometry(), unit(0, 0, 325, 65));
    QCOMPARE(dialog.Panel1->text(), QString(" ServerName"));
    QCOMPARE(dialog.Panel1->geometry(), unit(0, 65, 325, 19));
    QCOMPARE(dialog.ListBoxServers->geometry(), unit(0, 84, 325, 261));
    QCOMPARE(dialog.ListBoxServers->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(dialog.ButtonOK->text(), QString("&Ok"));
    QCOMPARE(dialog.ButtonOK->geometry(), unit(85, 348, 75, 23));
    QVERIFY(dialog.ButtonOK->isDefault());
    QCOMPARE(dialog.ButtonCancel->text(), QString("&Cancel"));
    QCOMPARE(dialog.ButtonCancel->geometry(), unit(166, 348, 75, 23));
    QCOMPARE(dialog.ButtonHelp->text(), QString("&Help"));
    QCOMPARE(dialog.ButtonHelp->geometry(), unit(247, 348, 75, 23));
}

void TestFormServerList::choiceGoesBackToTheLogonDialog_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("row");    // selected before the action; -1 none
    QTest::addColumn<int>("chosen"); // the name the logon dialog ends with; -1 unchanged

    QTest::newRow("double-click") << "double-click" << 1 << 1;
    QTest::newRow("OK") << "OK" << 0 << 0;
    QTest::newRow("OK without a selection") << "OK" << -1 << -1;
    QTest::newRow("Cancel") << "Cancel" << 1 << -1;
    QTest::newRow("Esc") << "Esc" << 1 << -1;
}

void TestFormServerList::choiceGoesBackToTheLogonDialog()
{
    QFETCH(QString, action);
    QFETCH(int, row);
    QFETCH(int, chosen);
    TSavedServers saved;
    QVERIFY(saved.SaveLogon(FNames[1], false, "viewer", "viewer", true));
    QVERIFY(saved.SaveLogon(FNames[0], false, "sa", "", false));
    QVERIFY(saved.SaveLogon("OTHER", false, "dba", "", false));

    TFakeServerConnector mainWindow(*FSandbox);
    TFormLogon logon;
    logon.MainWindow = &mainWindow;
    logon.show();
    QTRY_VERIFY(logon.ServersListed());
    QCOMPARE(logon.ComboBoxDBServers->currentText(), QString("OTHER"));

    bool browsed = false;
    QTimer::singleShot(0, this, [&] {
        auto* list = qobject_cast<TFormServerList*>(QApplication::activeModalWidget());
        const auto closeAnyway = qScopeGuard([&] {
            if (list && list->isVisible())
                list->reject();
        });
        QVERIFY(list);
        QCOMPARE(list->LogonDialog, &logon);
        // The hourglass while it looks, the previous cursor after.
        QTRY_VERIFY(list->Browsing());
        QCOMPARE(list->cursor().shape(), Qt::WaitCursor);
        QTRY_VERIFY_WITH_TIMEOUT(!list->Browsing(), 10000);
        QTRY_COMPARE(list->ListBoxServers->count(), 2);
        QCOMPARE(list->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(list->ListBoxServers->item(0)->text(), FNames[0]);
        QCOMPARE(list->ListBoxServers->item(1)->text(), FNames[1]);

        if (row >= 0)
            list->ListBoxServers->setCurrentRow(row);
        if (action == "double-click") {
            const QRect item = list->ListBoxServers->visualItemRect(list->ListBoxServers->item(row));
            // A double click: the first press and release, then the second press.
            QTest::mouseClick(list->ListBoxServers->viewport(), Qt::LeftButton, {}, item.center());
            QTest::mouseDClick(list->ListBoxServers->viewport(), Qt::LeftButton, {}, item.center());
        } else if (action == "OK") {
            list->ButtonOK->click();
        } else if (action == "Cancel") {
            list->ButtonCancel->click();
        } else {
            QTest::keyClick(list->ListBoxServers, Qt::Key_Escape);
        }
        QVERIFY(!list->isVisible());
        browsed = true;
    });
    logon.ButtonListServers->click();
    QVERIFY(browsed);

    if (chosen < 0) {
        QCOMPARE(logon.ComboBoxDBServers->currentText(), QString("OTHER"));
        QCOMPARE(logon.EditLoginname->text(), QString("dba"));
    } else {
        QCOMPARE(logon.ComboBoxDBServers->currentText(), FNames[chosen]);
        QCOMPARE(logon.EditLoginname->text(), chosen == 1 ? QString("viewer") : QString("sa"));
        QCOMPARE(logon.CBoxSavePassword->isChecked(), chosen == 1);
    }
    // Back from the list the dialog keeps the chosen server rather than the default.
    QVERIFY(logon.isVisible());
    QTest::qWait(50);
    QCOMPARE(logon.ComboBoxDBServers->currentText(), chosen < 0 ? QString("OTHER") : FNames[chosen]);
    QCOMPARE(mainWindow.Calls.size(), 0u);
}

void TestFormServerList::searchingAgainListsEachServerOnce()
{
    TFormServerList dialog;
    QSignalSpy finished(&dialog, &TFormServerList::BrowseFinished);
    dialog.show();
    QVERIFY(finished.wait(10000));
    QCOMPARE(dialog.ListBoxServers->count(), 2);
    dialog.BrowseServers();
    dialog.BrowseServers(); // one search at a time
    QVERIFY(finished.wait(10000));
    QCOMPARE(dialog.ListBoxServers->count(), 2);
    QTest::qWait(100);
    QCOMPARE(finished.count(), 2);
}

void TestFormServerList::closingWhileSearching()
{
    {
        TFormServerList dialog;
        dialog.show();
        QTRY_VERIFY(dialog.Browsing());
    }
    // The search's end finds no dialog to report to.
    QTest::qWait(2500);
}

QTEST_MAIN(TestFormServerList)
#include "tst_formserverlist.moc"
