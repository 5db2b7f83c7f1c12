#pragma once
// The main window: the toolbar, the menus and the window's keys, the list of connected
// servers (red while a server is disconnected) and the connection frame showing the
// selected server. It owns the 25 connection slots and is the monitor threads' owner:
// they ask it to redraw after every refresh and to send the alerts.

#include "alerts/Alertmailer.h"
#include "engine/Torvaneowner.h"
#include "ui/Frameconnection.h"
#include "ui/Propertiesowner.h"
#include "ui/Serverconnector.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QTimer;
class QToolButton;
class TConnectionSlot;
class TEmailAlert;

class TFormMain : public QMainWindow,
                  public TTorvaneOwner,
                  public TConnectionFrameOwner,
                  public TServerConnector,
                  public TPropertiesOwner
{
    Q_OBJECT

public:
    static constexpr int SlotCount = 25;

    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    // Connects the server into the lowest free slot without waiting for it; done gets
    // the outcome on the main thread. "Connections Full" when no slot is free. The
    // attempt's number is its slot's index.
    int ConnectServer(const QString& serverName, bool useWindowsAuthentication, const QString& userName,
                      const QString& password, std::function<void(bool)> done = {}) override;
    // The slot is free again at once; the attempt's threads end in the background.
    void AbandonConnect(int attempt) override;
    // Abandoned attempts whose threads have not finished yet.
    int AbandonedAttempts() const;
    void ShowLogonDialog();
    void SetRefreshInterval(int seconds) override;
    int RefreshIntervalSeconds() const { return FRefreshIntervalSeconds; }
    // Whether the first activation opens the logon dialog (not when servers were given
    // on the command line).
    void SetLogonOnFirstActivation(bool open) { LogonOnFirstActivation = open; }

    // TConnectionFrameOwner
    void SetToolbarMode(int mode) override;
    bool ShowSinceReset() const override { return FShowSinceReset; }

    // TTorvaneOwner
    void ShowMessageBox(const std::string& text, const std::string& caption) override;
    void RefreshSlotView(std::int32_t slotIndex) override;
    void SendDisconnectAlert(std::int32_t slotIndex) override;
    void SendCpuAlert(std::int32_t slotIndex) override;
    void SendResponseAlert(std::int32_t slotIndex) override;

    // Stops every slot and waits up to the time given for the monitor threads; false
    // when one is still inside the driver and must be abandoned at exit.
    bool StopAllSlots(int waitMilliseconds);

    TConnectionSlot* Slot(int index) const { return Slots[static_cast<std::size_t>(index)].get(); }
    int CurrentSlot() const { return FCurrentSlot; }
    int SlotsInUse() const;

    TFrameConnection* FrameCurrentConnection;
    QListWidget* ListBoxServers;
    QToolButton* ImageToolbarConnect;
    QToolButton* ImageToolbarKillProc;
    QToolButton* ImageToolbarKillUser;
    QToolButton* ImageToolbarKillDB;
    QToolButton* ImageToolbarExit;
    QToolButton* ImageToolbarSendMsg;
    QToolButton* ImageToolbarBlocking;
    QAction* Connect1;
    QAction* Properties1;
    QAction* ExitMonitor1;
    QAction* ResetCPUPhysicalIOStats1;
    QAction* mnuDisplayOriginalCPUPhysicalIO1;
    QAction* KillProcess1;
    QAction* KillAllProcesses1;
    QAction* BlockingChains1;
    QAction* Export1;
    QAction* Filter1;
    QAction* CopyRow1;
    QAction* CopyGrid1;
    QAction* Contents1;
    QAction* AboutTorvane1;
    QLabel* StatusLine;

Q_SIGNALS:
    // The user asked for the logon dialog (menu, toolbar, first activation) and a slot
    // is free; the program connects it to its logon dialog.
    void LogonDialogRequested();
    void PropertiesRequested();
    void HelpRequested();
    void AboutRequested();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void BuildToolbar(QWidget* panel);
    void BuildKeys();
    QWidget* BuildServerPanel();
    void FormActivate();
    void ListBoxServersClick();
    void ResetCPUPhysicalIOStats1Click();
    void mnuDisplayOriginalCPUPhysicalIO1Click();
    void ReconnectLostServers();
    int FreeSlot() const;
    void ShowConnectionsFull();

    void SendAlert(std::int32_t slotIndex, void (TEmailAlert::*send)(TAlertMailer&) const);

    // The alert mails go out on the mailer's own thread, one after another.
    TAlertMailer Mailer;
    std::array<std::unique_ptr<TConnectionSlot>, SlotCount> Slots;
    std::array<bool, SlotCount> Reserved{}; // a connection to this slot is under way
    // Called-off attempts, kept until their outcome (dropped) arrives so that closing
    // the window still waits for their threads.
    std::vector<std::unique_ptr<TConnectionSlot>> Abandoned;
    int FCurrentSlot = -1;
    int FRefreshIntervalSeconds = 1;
    bool FirstActivation = true;
    bool LogonOnFirstActivation = true;
    bool FShowSinceReset = false;
    QTimer* ReconnectTimer;
};
