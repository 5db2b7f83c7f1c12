// The main window against the sandbox, offscreen: connecting, switching servers, a
// failed connection's message, a logon called off while the server does not answer, a
// server turning red while it does not answer, the slots running out, the toolbar
// modes, the keyboard, the display toggle and closing in the middle of refreshes.

#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "tests/support/Sandboxfixture.h"
#include "tests/support/Testscenario.h"
#include "ui/Dialoglayout.h"
#include "ui/Elidedlabel.h"
#include "ui/Formlogon.h"
#include "ui/Formmain.h"
#include "ui/Frameallprocesses.h"
#include "ui/Frameconnection.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridfilterbox.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Messagebox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

class TestFormMain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void constructionState();
    void longServerNameKeepsTheServerList();
    void clickBelowTheServersKeepsTheSelection();
    void twoServersAndASwitchWithoutQuery();
    void failedConnectionLeavesTheSlotFree();
    void failedConnectionSaysWhatFailed_data();
    void failedConnectionSaysWhatFailed();
    void cancelledLogonIsAbandoned_data();
    void cancelledLogonIsAbandoned();
    void serverTurnsRedWhileItDoesNotAnswer();
    void connectionsFull();
    void toolbarModePerTab_data();
    void toolbarModePerTab();
    void keyboardSwitchesTabs_data();
    void keyboardSwitchesTabs();
    void keyboardReachesTheTabs();
    void windowKeys();
    void resetAndDisplayToggle();
    void closingMidRefreshEndsAtOnce();
    void copyKeysAndHiddenRowsCaption();

private:
    // Connects and waits for the outcome and, on success, the first refresh.
    static bool Connect(TFormMain& window, const std::string& server,
                        const QString& password = QStringLiteral("torvane"));
    static bool IsDrawnRed(TFormMain& window, int row);

    QTemporaryDir Settings;
    std::vector<TMessageRequest> Messages;
};

void TestFormMain::initTestCase()
{
    QVERIFY(Settings.isValid());
    qputenv("TORVANE_HKLM_FILE", Settings.filePath(QStringLiteral("machine.reg")).toLocal8Bit());
    qputenv("TORVANE_HKCU_FILE", Settings.filePath(QStringLiteral("user.reg")).toLocal8Bit());
    qputenv("TORVANE_QUERY_TIMEOUT", "3");
    SetMessageAnswerer([this](const TMessageRequest& request) {
        Messages.push_back(request);
        return TMessageResult::Ok;
    });
}

void TestFormMain::cleanup()
{
    Messages.clear();
}

bool TestFormMain::Connect(TFormMain& window, const std::string& server, const QString& password)
{
    std::optional<bool> outcome;
    window.ConnectServer(QString::fromStdString(server), false, QStringLiteral("sa"), password,
                         [&](bool connected) { outcome = connected; });
    if (!QTest::qWaitFor([&] { return outcome.has_value(); }, 30000) || !*outcome)
        return false;
    TConnectionSlot* slot = window.Slot(window.CurrentSlot());
    return QTest::qWaitFor([&] { return slot->ServerPerformance()->SampleValid().back(); }, 30000);
}

bool TestFormMain::IsDrawnRed(TFormMain& window, int row)
{
    window.ListBoxServers->clearSelection();
    const QImage image = window.ListBoxServers->viewport()->grab().toImage();
    const QRect item = window.ListBoxServers->visualItemRect(window.ListBoxServers->item(row));
    for (int y = item.top(); y <= item.bottom(); ++y)
        for (int x = item.left(); x < std::min(item.right(), image.width()); ++x)
            if (image.pixelColor(x, y) == QColor(0xFF, 0, 0))
                return true;
    return false;
}

void TestFormMain::constructionState()
{
    TFormMain window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Velquin SQL Server Monitor"));
    // The designed size in the layout unit, within the screen.
    QCOMPARE(window.size(), QSize(LayoutPixels(756), LayoutPixels(568))
                                .boundedTo(window.screen()->availableGeometry().size()));
    QCOMPARE(window.CurrentSlot(), -1);
    QVERIFY(!window.ShowSinceReset());
    QVERIFY(window.mnuDisplayOriginalCPUPhysicalIO1->isChecked());
    QVERIFY(!window.KillProcess1->isEnabled());
    QVERIFY(!window.KillAllProcesses1->isEnabled());
    QCOMPARE(window.ImageToolbarConnect->toolTip(),
             QStringLiteral("Connect to a new Database Server (Ctrl+L)"));
    QCOMPARE(window.ImageToolbarExit->x(), LayoutPixels(50));
    // Nothing to act on yet: the commands do nothing.
    window.KillProcess1->trigger();
    window.ResetCPUPhysicalIOStats1->trigger();
    QVERIFY(Messages.empty());
}

void TestFormMain::twoServersAndASwitchWithoutQuery()
{
    TSandboxFixture first(QuietScenarioJson);
    TSandboxFixture second(QuietScenarioJson);
    QVERIFY(first.Started() && second.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100); // no timer refresh during the test
    QVERIFY(Connect(window, first.ServerName()));
    QVERIFY(Connect(window, second.ServerName()));
    QCOMPARE(window.ListBoxServers->count(), 2);
    QCOMPARE(window.CurrentSlot(), 1);
    QCOMPARE(window.FrameCurrentConnection->LabelServerName->text(),
             QString::fromStdString(second.ServerName()));

    const auto batches = [](TSandboxFixture& sandbox) { return sandbox.Simulation().BatchLog().size(); };
    const std::size_t before = batches(first) + batches(second);
    window.ListBoxServers->setCurrentRow(0);
    QCOMPARE(window.CurrentSlot(), 0);
    QCOMPARE(window.FrameCurrentConnection->LabelServerName->text(),
             QString::fromStdString(first.ServerName()));
    QTest::qWait(200);
    QCOMPARE(batches(first) + batches(second), before);
}

void TestFormMain::failedConnectionLeavesTheSlotFree()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    QVERIFY(!Connect(window, sandbox.ServerName(), QStringLiteral("wrong")));
    QCOMPARE(Messages.size(), std::size_t(1));
    QCOMPARE(Messages.front().Text, "Could not connect to " + QString::fromStdString(sandbox.ServerName()) +
                                        ": Login failed for user 'sa'.");
    QCOMPARE(window.ListBoxServers->count(), 0);
    QVERIFY(Connect(window, sandbox.ServerName()));
    QCOMPARE(window.CurrentSlot(), 0);
}

void TestFormMain::failedConnectionSaysWhatFailed_data()
{
    QTest::addColumn<QString>("server"); // SANDBOX: the sandbox, hung
    QTest::addColumn<QString>("failure");
    QTest::newRow("no answer") << "SANDBOX"
                               << "no answer within 2 s";
    QTest::newRow("refused") << "127.0.0.1,1"
                             << "the connection was refused (no SQL Server listens there, or there is no "
                                "instance of that name)";
    QTest::newRow("unknown host") << "nosuchhost.invalid"
                                  << "the host name is not known (check the name and the DNS)";
}

// The message names the server as typed and says what failed in a DBA's words, in a
// box without an icon.
void TestFormMain::failedConnectionSaysWhatFailed()
{
    QFETCH(QString, server);
    QFETCH(QString, failure);
    qputenv("TORVANE_LOGIN_TIMEOUT", "2");
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    if (server == QLatin1String("SANDBOX")) {
        server = QString::fromStdString(sandbox.ServerName());
        sandbox.Server().Hang(0);
    }
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    const bool connected = Connect(window, server.toStdString());
    qunsetenv("TORVANE_LOGIN_TIMEOUT");
    sandbox.Server().Resume();
    QVERIFY(!connected);
    QCOMPARE(Messages.size(), std::size_t(1));
    QCOMPARE(Messages.front().Text, "Could not connect to " + server + ": " + failure);
    QCOMPARE(Messages.front().Icon, TMessageIcon::None);
    QCOMPARE(Messages.front().Buttons, TMessageButtons::Ok);
}

void TestFormMain::cancelledLogonIsAbandoned_data()
{
    QTest::addColumn<bool>("escape");       // else the Cancel button
    QTest::addColumn<bool>("answersLater"); // the server answers after the cancel
    QTest::newRow("Escape, the server answers later") << true << true;
    QTest::newRow("Cancel, the server never answers") << false << false;
}

// Cancel and Escape answer while the connection waits for a server that does not
// answer: the dialog closes at once, the slot is free, and whatever the attempt comes
// to later is dropped, neither listed nor reported.
void TestFormMain::cancelledLogonIsAbandoned()
{
    QFETCH(bool, escape);
    QFETCH(bool, answersLater);
    qputenv("TORVANE_LOGIN_TIMEOUT", "3");
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100);
    sandbox.Server().Hang(0);

    TFormLogon logon(&window);
    logon.MainWindow = &window;
    logon.show();
    QVERIFY(QTest::qWaitForWindowActive(&logon));
    logon.ComboBoxDBServers->setEditText(QString::fromStdString(sandbox.ServerName()));
    logon.EditLoginname->setText(QStringLiteral("sa"));
    logon.EditPassword->setText(QStringLiteral("torvane"));
    logon.ButtonLogon->click();
    QVERIFY(!logon.EditPassword->isEnabled());
    QVERIFY(logon.ButtonCancel->isEnabled());
    QTest::qWait(300); // the driver is waiting for the server now

    if (escape)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    else
        QTest::mouseClick(logon.ButtonCancel, Qt::LeftButton);
    QVERIFY(!logon.isVisible());
    QCOMPARE(logon.result(), int(QDialog::Rejected));
    QCOMPARE(window.SlotsInUse(), 0);
    QCOMPARE(window.AbandonedAttempts(), 1);

    if (answersLater)
        sandbox.Server().Resume();
    QTRY_COMPARE_WITH_TIMEOUT(window.AbandonedAttempts(), 0, 20000);
    QTest::qWait(200); // the outcome, had it been kept, would be in by now
    qunsetenv("TORVANE_LOGIN_TIMEOUT");
    QCOMPARE(window.ListBoxServers->count(), 0);
    QCOMPARE(window.SlotsInUse(), 0);
    QVERIFY(Messages.empty());

    // The slot the attempt had is the next connection's.
    sandbox.Server().Resume();
    QVERIFY(Connect(window, sandbox.ServerName()));
    QCOMPARE(window.CurrentSlot(), 0);
    QCOMPARE(window.ListBoxServers->count(), 1);
}

void TestFormMain::serverTurnsRedWhileItDoesNotAnswer()
{
    TSandboxFixture hung(QuietScenarioJson);
    TSandboxFixture healthy(QuietScenarioJson);
    QVERIFY(hung.Started() && healthy.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.show();
    QVERIFY(Connect(window, hung.ServerName()));
    QVERIFY(Connect(window, healthy.ServerName()));
    QVERIFY(!IsDrawnRed(window, 0));

    hung.Server().Hang(0);
    // The shown server goes on refreshing and the window answers meanwhile.
    const auto refreshes = window.Slot(1)->ServerPerformance()->SampleTime().back();
    QTRY_VERIFY_WITH_TIMEOUT(window.Slot(0)->ServerPerformance()->Disconnected, 20000);
    QVERIFY(window.Slot(1)->ServerPerformance()->SampleTime().back() > refreshes);
    QVERIFY(IsDrawnRed(window, 0));
    QVERIFY(!IsDrawnRed(window, 1));

    // Shown and selected, the lost server reads white on red (red on the selection's
    // colour would not read), and its old data says it is old.
    window.ListBoxServers->setCurrentRow(0);
    QCOMPARE(window.CurrentSlot(), 0);
    {
        const QImage image = window.ListBoxServers->viewport()->grab().toImage();
        const QRect item = window.ListBoxServers->visualItemRect(window.ListBoxServers->item(0));
        int red = 0, white = 0;
        for (int y = item.top(); y <= item.bottom(); ++y) {
            for (int x = item.left(); x < std::min(item.right(), image.width()); ++x) {
                red += image.pixelColor(x, y) == QColor(0xFF, 0, 0) ? 1 : 0;
                white += image.pixelColor(x, y) == QColor(0xFF, 0xFF, 0xFF) ? 1 : 0;
            }
        }
        QVERIFY(red > item.width() * item.height() / 2);
        QVERIFY(white > 0);
    }
    QVERIFY(!window.FrameCurrentConnection->LabelStaleData->isHidden());
    QVERIFY(window.FrameCurrentConnection->LabelStaleData->text().startsWith("Disconnected"));

    hung.Server().Resume();
    // Retried by itself once per interval: white again, refreshing again.
    QTRY_VERIFY_WITH_TIMEOUT(!window.Slot(0)->ServerPerformance()->Disconnected, 30000);
    QTRY_VERIFY(window.FrameCurrentConnection->LabelStaleData->isHidden());
    QVERIFY(!IsDrawnRed(window, 0));
}

void TestFormMain::clickBelowTheServersKeepsTheSelection()
{
    TFormMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.ListBoxServers->addItem(QStringLiteral("SQLPROD01"));
    window.ListBoxServers->setCurrentRow(0);
    QWidget* empty = window.ListBoxServers->viewport();
    QTest::mouseClick(empty, Qt::LeftButton, {}, QPoint(5, empty->height() - 5));
    QCOMPARE(window.ListBoxServers->currentRow(), 0);
    QVERIFY(window.ListBoxServers->item(0)->isSelected());
}

void TestFormMain::longServerNameKeepsTheServerList()
{
    TFormMain window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize size = window.size();
    const int listWidth = window.ListBoxServers->width();
    // A name far wider than the window, shown in the tab bar.
    const QString name = QString("SQLPROD01-").repeated(40);
    window.FrameCurrentConnection->BindConnection(name, nullptr);
    QApplication::processEvents();
    QCOMPARE(window.size(), size);
    QCOMPARE(window.ListBoxServers->width(), listWidth);
    QCOMPARE(window.FrameCurrentConnection->LabelServerName->text(), name);
    QCOMPARE(window.FrameCurrentConnection->LabelServerName->toolTip(), name);
    // Made as small as the design's window, the views give way, not the server list.
    window.resize(756, 568);
    QApplication::processEvents();
    QCOMPARE(window.ListBoxServers->width(), listWidth);
}

void TestFormMain::connectionsFull()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100);
    int opened = 0;
    QObject::connect(&window, &TFormMain::LogonDialogRequested, [&] { ++opened; });
    int connected = 0;
    for (int i = 0; i < TFormMain::SlotCount; ++i)
        window.ConnectServer(QString::fromStdString(sandbox.ServerName()), false, QStringLiteral("sa"),
                             QStringLiteral("torvane"), [&](bool ok) { connected += ok ? 1 : 0; });
    QTRY_COMPARE_WITH_TIMEOUT(connected, TFormMain::SlotCount, 60000);
    QCOMPARE(window.ListBoxServers->count(), TFormMain::SlotCount);
    for (int row = 0; row < TFormMain::SlotCount; ++row)
        QCOMPARE(window.ListBoxServers->item(row)->data(Qt::UserRole + 1).toInt(), row);

    window.Connect1->trigger();
    QCOMPARE(opened, 0);
    std::optional<bool> outcome;
    window.ConnectServer(QStringLiteral("another"), true, {}, {}, [&](bool ok) { outcome = ok; });
    QCOMPARE(outcome, std::optional<bool>(false));
    QCOMPARE(Messages.size(), std::size_t(2));
    for (const TMessageRequest& message : Messages) {
        QCOMPARE(message.Text, QStringLiteral("Connections Full"));
        QCOMPARE(message.Caption, QStringLiteral("The connection queue is full for this session"));
    }
}

void TestFormMain::toolbarModePerTab_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("killProc");
    QTest::addColumn<bool>("killUser");
    QTest::addColumn<bool>("killDatabase");
    QTest::addColumn<int>("exitLeft");
    QTest::addColumn<bool>("killProcessItem");
    QTest::addColumn<bool>("killAllItem");
    QTest::newRow("Performance") << 0 << false << false << false << 50 << false << false;
    QTest::newRow("Users") << 1 << true << true << false << 150 << true << true;
    QTest::newRow("Databases") << 2 << true << false << true << 150 << true << true;
    QTest::newRow("All Processes") << 3 << true << false << false << 100 << true << false;
}

void TestFormMain::toolbarModePerTab()
{
    QFETCH(int, tab);
    QFETCH(bool, killProc);
    QFETCH(bool, killUser);
    QFETCH(bool, killDatabase);
    QFETCH(int, exitLeft);
    QFETCH(bool, killProcessItem);
    QFETCH(bool, killAllItem);
    TFormMain window;
    window.show();
    // Clicking the tab's caption, as a user does.
    QTest::mouseClick(window.FrameCurrentConnection->TabLabels[static_cast<std::size_t>(tab)],
                      Qt::LeftButton);
    QCOMPARE(window.FrameCurrentConnection->VisibleTab(), tab);
    QCOMPARE(window.ImageToolbarKillProc->isVisible(), killProc);
    QCOMPARE(window.ImageToolbarKillUser->isVisible(), killUser);
    QCOMPARE(window.ImageToolbarKillDB->isVisible(), killDatabase);
    QVERIFY(!window.ImageToolbarSendMsg->isVisible());
    QCOMPARE(window.ImageToolbarExit->x(), LayoutPixels(exitLeft));
    QCOMPARE(window.KillProcess1->isEnabled(), killProcessItem);
    QCOMPARE(window.KillAllProcesses1->isEnabled(), killAllItem);
    QCOMPARE(window.FrameCurrentConnection->TabLabels[static_cast<std::size_t>(tab)]->font().bold(), true);
    // The blocking chains' button belongs to All Processes, after Exit; Ctrl+B opens
    // them there from any tab.
    QCOMPARE(window.ImageToolbarBlocking->isVisible(), tab == 3);
    if (tab == 3)
        QCOMPARE(window.ImageToolbarBlocking->x(), LayoutPixels(exitLeft + 50));
    QCOMPARE(window.BlockingChains1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_B));
    window.BlockingChains1->trigger();
    QCOMPARE(window.FrameCurrentConnection->VisibleTab(), 3);
    QVERIFY(window.FrameCurrentConnection->FrameSessionAllProcesses->BlockingChainsShown());
}

void TestFormMain::keyboardSwitchesTabs_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("onTheTab"); // the focus on the tab's caption, else in the server list
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("to");
    const int ctrl = Qt::ControlModifier;
    // Ctrl+Shift+Tab comes from the keyboard as Backtab with both modifiers.
    QTest::newRow("Ctrl+Tab") << 0 << false << int(Qt::Key_Tab) << ctrl << 1;
    QTest::newRow("Ctrl+Tab wraps round") << 3 << false << int(Qt::Key_Tab) << ctrl << 0;
    QTest::newRow("Ctrl+Shift+Tab") << 2 << false << int(Qt::Key_Backtab) << (ctrl | int(Qt::ShiftModifier)) << 1;
    QTest::newRow("Ctrl+Shift+Tab wraps round")
        << 0 << false << int(Qt::Key_Backtab) << (ctrl | int(Qt::ShiftModifier)) << 3;
    QTest::newRow("Ctrl+PgDn") << 1 << false << int(Qt::Key_PageDown) << ctrl << 2;
    QTest::newRow("Ctrl+PgUp") << 1 << false << int(Qt::Key_PageUp) << ctrl << 0;
    QTest::newRow("Ctrl+Tab from a tab") << 2 << true << int(Qt::Key_Tab) << ctrl << 3;
    QTest::newRow("Right on a tab") << 1 << true << int(Qt::Key_Right) << 0 << 2;
    QTest::newRow("Left on a tab") << 1 << true << int(Qt::Key_Left) << 0 << 0;
    QTest::newRow("Left on the first tab stays") << 0 << true << int(Qt::Key_Left) << 0 << 0;
    QTest::newRow("End on a tab") << 0 << true << int(Qt::Key_End) << 0 << 3;
    QTest::newRow("Home on a tab") << 3 << true << int(Qt::Key_Home) << 0 << 0;
}

void TestFormMain::keyboardSwitchesTabs()
{
    QFETCH(int, from);
    QFETCH(bool, onTheTab);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, to);
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    TFrameConnection* frame = window.FrameCurrentConnection;
    frame->SelectTab(from);
    QWidget* focus = onTheTab ? static_cast<QWidget*>(frame->TabLabels[static_cast<std::size_t>(from)])
                              : window.ListBoxServers;
    focus->setFocus();
    QCOMPARE(QApplication::focusWidget(), focus);

    QTest::keyClick(focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(frame->VisibleTab(), to);
    // The toolbar follows as it does for a click.
    QCOMPARE(window.ImageToolbarKillProc->isVisible(), to != TFrameConnection::TabPerformance);
    if (onTheTab && !(modifiers & Qt::ControlModifier))
        QCOMPARE(QApplication::focusWidget(), frame->TabLabels[static_cast<std::size_t>(to)]);
}

// Tab reaches every tab caption and Threads/Command; Space on a focused caption shows
// its page.
void TestFormMain::keyboardReachesTheTabs()
{
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    TFrameConnection* frame = window.FrameCurrentConnection;
    frame->TabLabels[0]->setFocus();
    for (std::size_t tab = 1; tab < frame->TabLabels.size(); ++tab) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), frame->TabLabels[tab]);
        QVERIFY(frame->TabLabels[tab]->font().underline());
        QVERIFY(!frame->TabLabels[tab - 1]->font().underline());
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(frame->VisibleTab(), int(TFrameConnection::TabAllProcesses));

    TFrameProcessInfo* info = frame->FrameSessionAllProcesses->ProcessInfo();
    auto* threads = info->findChild<QLabel*>(QStringLiteral("LabelTabThread"));
    auto* command = info->findChild<QLabel*>(QStringLiteral("LabelTabCommand"));
    QVERIFY(threads && command);
    threads->setFocus();
    QTest::keyClick(threads, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), command);
    QTest::keyClick(command, Qt::Key_Space);
    QVERIFY(info->CommandPageShowing());
    QTest::keyClick(command, Qt::Key_Left);
    QVERIFY(!info->CommandPageShowing());
    QCOMPARE(QApplication::focusWidget(), threads);
}

// F5, Del, Ctrl+L, F10 and Alt alone, and the keys named in the menus and hints.
void TestFormMain::windowKeys()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100); // no timer refresh during the test
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(Connect(window, sandbox.ServerName()));
    int logons = 0;
    QObject::connect(&window, &TFormMain::LogonDialogRequested, [&] { ++logons; });
    window.ListBoxServers->setFocus();

    QCOMPARE(window.Connect1->text(), QStringLiteral("Connect To New Server"));
    QCOMPARE(window.Connect1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    QCOMPARE(window.KillProcess1->text(), QStringLiteral("Kill Process"));
    QCOMPARE(window.KillProcess1->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(window.ImageToolbarKillProc->toolTip(), QStringLiteral("Kill current process (Del)"));

    QTest::keyClick(window.ListBoxServers, Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(logons, 1);

    // A request while the monitor thread finishes a refresh is absorbed by that one:
    // asked when the thread is idle.
    QTest::qWait(300);
    const int probes = sandbox.BatchCount("SELECT 1");
    QTest::keyClick(window.ListBoxServers, Qt::Key_F5);
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.BatchCount("SELECT 1") > probes, 10000);

    // Del is Kill Process: nothing on the Performance tab, the question on All Processes.
    QTest::keyClick(window.ListBoxServers, Qt::Key_Delete);
    QVERIFY(Messages.empty());
    window.FrameCurrentConnection->SelectTab(TFrameConnection::TabAllProcesses);
    QTableView* grid = window.FrameCurrentConnection->FrameSessionAllProcesses->ProcessGridPair()->Right();
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Delete);
    QCOMPARE(Messages.size(), std::size_t(1));
    QCOMPARE(Messages.front().Buttons, TMessageButtons::YesNo);
    QCOMPARE(Messages.front().Caption, QStringLiteral("Kill Process"));

    QMenuBar* menus = window.menuBar();
    QTest::keyClick(grid, Qt::Key_F10);
    QTRY_VERIFY(menus->activeAction() == menus->actions().first());
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    menus->setActiveAction(nullptr);
    QTRY_VERIFY(!menus->activeAction());

    grid->setFocus();
    QTest::keyPress(grid, Qt::Key_Alt);
    QTest::keyRelease(grid, Qt::Key_Alt);
    QTRY_VERIFY(menus->activeAction() == menus->actions().first());
}

void TestFormMain::resetAndDisplayToggle()
{
    TFormMain window;
    QAction* display = window.mnuDisplayOriginalCPUPhysicalIO1;
    window.ResetCPUPhysicalIOStats1->trigger();
    QVERIFY(window.ShowSinceReset());
    QVERIFY(!display->isChecked());
    window.ResetCPUPhysicalIOStats1->trigger(); // a second reset leaves the mark cleared
    QVERIFY(!display->isChecked());
    display->trigger();
    QVERIFY(display->isChecked());
    QVERIFY(!window.ShowSinceReset());
    display->trigger();
    QVERIFY(!display->isChecked());
    QVERIFY(window.ShowSinceReset());
}

void TestFormMain::closingMidRefreshEndsAtOnce()
{
    TSandboxFixture sandbox(QuietScenarioJson);
    QVERIFY(sandbox.Started());
    auto window = std::make_unique<TFormMain>();
    window->SetLogonOnFirstActivation(false);
    QVERIFY(Connect(*window, sandbox.ServerName()));
    QVERIFY(Connect(*window, sandbox.ServerName()));
    sandbox.Server().Hang(0); // both threads now block inside the driver
    window->Slot(0)->RequestRefresh();
    window->Slot(1)->RequestRefresh();
    QTest::qWait(300);
    QElapsedTimer closing;
    closing.start();
    window->close();
    const bool finished = window->StopAllSlots(1500);
    window.reset();
    QVERIFY(closing.elapsed() < 2000);
    Q_UNUSED(finished); // threads inside the driver are abandoned, never awaited
    sandbox.Server().Resume();
}

void TestFormMain::copyKeysAndHiddenRowsCaption()
{
    TSandboxFixture server(QuietScenarioJson);
    QVERIFY(server.Started());
    TFormMain window;
    window.SetLogonOnFirstActivation(false);
    window.SetRefreshInterval(100);
    window.show();
    QVERIFY(Connect(window, server.ServerName()));
    TFrameConnection* frame = window.FrameCurrentConnection;
    frame->SelectTab(TFrameConnection::TabAllProcesses);
    TFrameAllProcesses* processes = frame->FrameSessionAllProcesses;
    QVERIFY(QTest::qWaitFor([&] { return processes->ProcessGrid()->RowCount() > 5; }, 10000));

    // Ctrl+F, then the text: the caption counts the rows the filter hides.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(window.Filter1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    window.Filter1->trigger();
    QVERIFY(processes->FilterBox()->hasFocus());
    QTest::keyClicks(processes->FilterBox(), QStringLiteral("stockservice"));
    const int hidden = processes->HiddenRows();
    QVERIFY(hidden > 0);
    QCOMPARE(frame->TabLabels[TFrameConnection::TabAllProcesses]->text(),
             QStringLiteral("All Processes (%1 hidden)").arg(hidden));

    // Ctrl+C: the selected row with the headings; Ctrl+Shift+C: every row shown.
    window.CopyRow1->trigger();
    const QStringList row = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(row.size(), 2);
    QVERIFY(row[0].startsWith(QStringLiteral("\tSPID\tLogin\tDatabase\t")));
    QVERIFY2(row[1].contains(QStringLiteral("\tStockService\t")), qPrintable(row[1]));
    window.CopyGrid1->trigger();
    const QStringList grid = QApplication::clipboard()->text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(grid.size(), processes->ProcessGrid()->RowCount());
    QCOMPARE(window.CopyGrid1->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));

    // Escape clears the filter and the caption is as it was.
    QTest::keyClick(processes->FilterBox(), Qt::Key_Escape);
    QCOMPARE(frame->TabLabels[TFrameConnection::TabAllProcesses]->text(), QStringLiteral("All Processes"));
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
