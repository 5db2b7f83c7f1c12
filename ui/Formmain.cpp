#include "ui/Formmain.h"

#include "alerts/Emailalert.h"

#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "settings/Torvanesettings.h"
#include "ui/Dialoglayout.h"
#include "ui/Gridexport.h"
#include "ui/Menubarkeys.h"
#include "ui/Messagebox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr int SlotRole = Qt::UserRole + 1;
const QColor ServerListBackground(0x33, 0x2B, 0x32);

// Server list items: red text while the server is disconnected, white otherwise, the
// text at the item's top-left corner without margin. The selected item is drawn in
// the palette's highlight with its text colour, or, while its server is
// disconnected, white on red: red text would be unreadable on a highlight.
class TServerItemDelegate : public QStyledItemDelegate
{
public:
    TServerItemDelegate(const TFormMain* mainWindow, QObject* parent)
        : QStyledItemDelegate(parent), MainWindow(mainWindow)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int slot = index.data(SlotRole).toInt();
        const TConnectionSlot* connection = MainWindow->Slot(slot);
        const bool disconnected =
            connection && connection->InUse() && connection->ServerPerformance()->Disconnected;
        const bool selected = option.state & QStyle::State_Selected;
        const QColor red(0xFF, 0, 0);
        const QColor white(0xFF, 0xFF, 0xFF);
        QColor background = ServerListBackground;
        QColor text = disconnected ? red : white;
        if (selected && disconnected) {
            background = red;
            text = white;
        } else if (selected) {
            background = option.palette.color(QPalette::Active, QPalette::Highlight);
            text = option.palette.color(QPalette::Active, QPalette::HighlightedText);
        }
        painter->fillRect(option.rect, background);
        painter->setPen(text);
        // A name too long for the panel ends in "…"; the whole name is the item's tooltip.
        painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
                                                        option.rect.width()));
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override
    {
        // Never wider than the list: a long name must not widen the panel.
        return {1, std::max(LayoutPixels(13), option.fontMetrics.height())};
    }

private:
    const TFormMain* MainWindow;
};

QToolButton* ToolbarButton(QWidget* parent, const QString& picture, const QString& hint)
{
    auto* button = new QToolButton(parent);
    button->setIcon(QIcon(QStringLiteral(":/torvane/") + picture));
    button->setIconSize(QSize(LayoutPixels(44), LayoutPixels(44)));
    button->setFixedSize(LayoutPixels(50), LayoutPixels(50));
    button->setAutoRaise(true);
    button->setToolTip(hint);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Velquin SQL Server Monitor"));
    // The system's UI font, at the window's 8 points; the window's sizes are in its unit.
    setFont(DesignFont());
    resize(LayoutPixels(756), LayoutPixels(568));
    SetFixedBackground(this, Qt::white);

    BuildMenus();
    // The menu bar lies on the white window: its captions black too.
    QPalette menuColours = menuBar()->palette();
    menuColours.setColor(QPalette::ButtonText, Qt::black);
    menuBar()->setPalette(menuColours);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* panelToolbar = new QFrame(central);
    panelToolbar->setObjectName(QStringLiteral("PanelToolbar"));
    panelToolbar->setFixedHeight(LayoutPixels(52));
    panelToolbar->setFrameShape(QFrame::Box);
    panelToolbar->setStyleSheet(
        QStringLiteral("#PanelToolbar { background: #EBE9ED; border: 1px solid #A9A4AD;"
                       " border-image: url(:/torvane/toolbar-background.svg) 0 0 0 0 stretch stretch; }"));
    BuildToolbar(panelToolbar);
    layout->addWidget(panelToolbar);

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    splitter->setHandleWidth(3);
    splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: #332B32; }"));
    splitter->setOpaqueResize(true);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(BuildServerPanel());
    auto* panelClient = new QFrame(splitter);
    panelClient->setFrameShape(QFrame::Box);
    panelClient->setStyleSheet(QStringLiteral("QFrame#PanelClient { border: 1px solid #A9A4AD; }"));
    panelClient->setObjectName(QStringLiteral("PanelClient"));
    auto* clientLayout = new QVBoxLayout(panelClient);
    clientLayout->setContentsMargins(1, 1, 1, 1);
    FrameCurrentConnection = new TFrameConnection(panelClient);
    clientLayout->addWidget(FrameCurrentConnection);
    splitter->addWidget(panelClient);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({LayoutPixels(185), LayoutPixels(571)});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    // The status line shows only while there is something to say (a failed alert mail).
    StatusLine = new QLabel(this);
    connect(&Mailer, &TAlertMailer::MailFailed, this, [this](const QString& text) {
        StatusLine->setText(text);
        statusBar()->setVisible(!text.isEmpty());
    });
    statusBar()->addWidget(StatusLine, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->hide();

    ReconnectTimer = new QTimer(this);
    connect(ReconnectTimer, &QTimer::timeout, this, [this] { ReconnectLostServers(); });
    ReconnectTimer->start(FRefreshIntervalSeconds * 1000);

    BuildKeys();
    SetToolbarMode(0);
    FrameCurrentConnection->SetMainWindow(this);
    FrameCurrentConnection->SetupViews();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // Never larger than the screen's free area.
        resize(size().boundedTo(screen->availableGeometry().size()));
        move(screen->availableGeometry().center() - rect().center());
    }
}

TFormMain::~TFormMain()
{
    StopAllSlots(0);
}

void TFormMain::BuildMenus()
{
    QMenu* server1 = menuBar()->addMenu(QStringLiteral("Monitor"));
    Connect1 =
        server1->addAction(QStringLiteral("Connect To New Server"), this, [this] { ShowLogonDialog(); });
    Properties1 =
        server1->addAction(QStringLiteral("Properties"), this, [this] { Q_EMIT PropertiesRequested(); });
    Export1 = server1->addAction(QStringLiteral("Export..."), this, [this] {
        FrameCurrentConnection->FillAllViews();
        ExportGrids(this, FrameCurrentConnection->ShownGrid(), FrameCurrentConnection->AllGrids());
    });
    server1->addSeparator();
    ExitMonitor1 = server1->addAction(QStringLiteral("Exit Monitor"), this, [this] { close(); });

    QMenu* mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    ResetCPUPhysicalIOStats1 = mnuView->addAction(QStringLiteral("Reset CPU/ Physical IO Stats"), this,
                                                  [this] { ResetCPUPhysicalIOStats1Click(); });
    mnuView->addSeparator();
    mnuDisplayOriginalCPUPhysicalIO1 = mnuView->addAction(QStringLiteral("Display Original CPU/Physical IO"));
    mnuDisplayOriginalCPUPhysicalIO1->setCheckable(true);
    mnuDisplayOriginalCPUPhysicalIO1->setChecked(true);
    // The check mark is flipped by this handler alone, as the toggle's rule needs
    // the mark from before the click.
    connect(mnuDisplayOriginalCPUPhysicalIO1, &QAction::triggered, this, [this] {
        mnuDisplayOriginalCPUPhysicalIO1->setChecked(!mnuDisplayOriginalCPUPhysicalIO1->isChecked());
        mnuDisplayOriginalCPUPhysicalIO1Click();
    });

    mnuView->addSeparator();
    // Find and copy in the grid the user works in (their keys: BuildKeys).
    Filter1 =
        mnuView->addAction(QStringLiteral("Filter"), this, [this] { FrameCurrentConnection->FocusFilter(); });
    CopyRow1 = mnuView->addAction(QStringLiteral("Copy Row"), this,
                                  [this] { FrameCurrentConnection->CopySelectedRow(); });
    CopyGrid1 =
        mnuView->addAction(QStringLiteral("Copy Grid"), this, [this] { FrameCurrentConnection->CopyGrid(); });

    QMenu* process1 = menuBar()->addMenu(QStringLiteral("Process"));
    KillProcess1 = process1->addAction(QStringLiteral("Kill Process"), this,
                                       [this] { FrameCurrentConnection->KillSelectedProcess(); });
    KillAllProcesses1 = process1->addAction(QStringLiteral("Kill All Processes"), this,
                                            [this] { FrameCurrentConnection->KillAllProcesses(); });
    process1->addSeparator();
    BlockingChains1 = process1->addAction(QStringLiteral("Blocking Chains"), this,
                                          [this] { FrameCurrentConnection->ToggleBlockingChains(); });

    QMenu* help1 = menuBar()->addMenu(QStringLiteral("Help"));
    Contents1 = help1->addAction(QStringLiteral("Monitor Help"), this, [this] { Q_EMIT HelpRequested(); });
    help1->addSeparator();
    AboutTorvane1 =
        help1->addAction(QStringLiteral("About Torvane"), this, [this] { Q_EMIT AboutRequested(); });
}

void TFormMain::BuildToolbar(QWidget* panel)
{
    ImageToolbarConnect = ToolbarButton(panel, QStringLiteral("toolbar-connect.svg"),
                                        QStringLiteral("Connect to a new Database Server"));
    ImageToolbarKillProc = ToolbarButton(panel, QStringLiteral("toolbar-killprocess.svg"),
                                         QStringLiteral("Kill current process"));
    ImageToolbarKillUser = ToolbarButton(panel, QStringLiteral("toolbar-killuser.svg"),
                                         QStringLiteral("Kill all processes for current user"));
    ImageToolbarKillDB = ToolbarButton(panel, QStringLiteral("toolbar-killdatabase.svg"),
                                       QStringLiteral("Kill all processes on current database"));
    ImageToolbarExit =
        ToolbarButton(panel, QStringLiteral("toolbar-exit.svg"), QStringLiteral("Exit Torvane"));
    ImageToolbarSendMsg = ToolbarButton(panel, QStringLiteral("toolbar-sendmessage.svg"),
                                        QStringLiteral("Send message to user via netsnd"));
    ImageToolbarBlocking = ToolbarButton(panel, QStringLiteral("toolbar-blocking.svg"),
                                         QStringLiteral("Show or hide the blocking chains"));
    ImageToolbarConnect->move(0, 0);
    ImageToolbarKillProc->move(LayoutPixels(50), 0);
    ImageToolbarKillUser->move(LayoutPixels(100), 0);
    ImageToolbarKillDB->move(LayoutPixels(100), 0);
    ImageToolbarSendMsg->move(LayoutPixels(200), 0);
    ImageToolbarSendMsg->hide();
    connect(ImageToolbarConnect, &QToolButton::clicked, this, [this] { ShowLogonDialog(); });
    connect(ImageToolbarKillProc, &QToolButton::clicked, this,
            [this] { FrameCurrentConnection->KillSelectedProcess(); });
    connect(ImageToolbarKillUser, &QToolButton::clicked, this,
            [this] { FrameCurrentConnection->KillAllProcesses(); });
    connect(ImageToolbarKillDB, &QToolButton::clicked, this,
            [this] { FrameCurrentConnection->KillAllProcesses(); });
    connect(ImageToolbarExit, &QToolButton::clicked, this, [this] { close(); });
    connect(ImageToolbarBlocking, &QToolButton::clicked, this,
            [this] { FrameCurrentConnection->ToggleBlockingChains(); });
}

// Every key of the window, in this one place. A menu item carries its own key, which the
// menu shows beside it and the toolbar button of the same command names in its hint;
// keys without a menu item are actions of the window itself.
void TFormMain::BuildKeys()
{
    const auto giveKey = [](QAction* item, const QKeySequence& key,
                            std::initializer_list<QToolButton*> buttons) {
        item->setShortcut(key);
        for (QToolButton* button : buttons)
            button->setToolTip(
                QStringLiteral("%1 (%2)").arg(button->toolTip(), key.toString(QKeySequence::NativeText)));
    };
    giveKey(Connect1, QKeySequence(Qt::CTRL | Qt::Key_L), {ImageToolbarConnect});
    giveKey(KillProcess1, QKeySequence(Qt::Key_Delete), {ImageToolbarKillProc});
    giveKey(BlockingChains1, QKeySequence(Qt::CTRL | Qt::Key_B), {ImageToolbarBlocking});
    giveKey(Filter1, QKeySequence(Qt::CTRL | Qt::Key_F), {});
    giveKey(CopyRow1, QKeySequence(Qt::CTRL | Qt::Key_C), {});
    giveKey(CopyGrid1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), {});

    const auto windowKey = [this](std::initializer_list<QKeySequence> keys, std::function<void()> run) {
        auto* action = new QAction(this);
        action->setShortcuts(QList<QKeySequence>(keys));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, std::move(run));
        addAction(action);
    };
    windowKey({QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)},
              [this] { FrameCurrentConnection->SelectNextTab(1); });
    windowKey({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
              [this] { FrameCurrentConnection->SelectNextTab(-1); });
    windowKey({QKeySequence(Qt::Key_F5)}, [this] { FrameCurrentConnection->RefreshNow(); });
    auto* menuBarKeys = new TMenuBarKeys(menuBar());
    windowKey({QKeySequence(Qt::Key_F10)}, [menuBarKeys] { menuBarKeys->Open(); });
}

QWidget* TFormMain::BuildServerPanel()
{
    auto* panel = new QFrame;
    panel->setObjectName(QStringLiteral("PanelServers"));
    panel->setFrameShape(QFrame::Box);
    panel->setStyleSheet(QStringLiteral("#PanelServers { border: 1px solid #A9A4AD; background: #332B32; }"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    auto* heading = new QLabel(QStringLiteral(" Connections"), panel);
    heading->setFixedHeight(LayoutPixels(18));
    heading->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    heading->setStyleSheet(QStringLiteral("background: black; color: white; font-weight: bold;"));
    layout->addWidget(heading);
    auto* line = new QFrame(panel);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: #FFFBF0;"));
    layout->addWidget(line);
    ListBoxServers = new QListWidget(panel);
    ListBoxServers->setFrameShape(QFrame::NoFrame);
    ListBoxServers->setStyleSheet(QStringLiteral("QListWidget { background: #332B32; color: white; }"));
    ListBoxServers->setItemDelegate(new TServerItemDelegate(this, ListBoxServers));
    ListBoxServers->setUniformItemSizes(true);
    ListBoxServers->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ListBoxServers->setTextElideMode(Qt::ElideRight);
    // A click below the last server keeps the selection (the list would clear it).
    ListBoxServers->viewport()->installEventFilter(this);
    connect(ListBoxServers, &QListWidget::itemSelectionChanged, this, [this] { ListBoxServersClick(); });
    layout->addWidget(ListBoxServers, 1);
    panel->setMinimumWidth(40);
    return panel;
}

void TFormMain::SetToolbarMode(int mode)
{
    struct TMode
    {
        bool KillProc, KillUser, KillDB;
        int ExitLeft;
        bool KillProcessItem, KillAllItem;
    };
    static constexpr TMode Modes[] = {{false, false, false, 50, false, false},
                                      {true, true, false, 150, true, true},
                                      {true, false, true, 150, true, true},
                                      {true, false, false, 100, true, false}};
    if (mode < 0 || mode > 3)
        return;
    const TMode& m = Modes[mode];
    ImageToolbarKillProc->setVisible(m.KillProc);
    ImageToolbarKillUser->setVisible(m.KillUser);
    ImageToolbarKillDB->setVisible(m.KillDB);
    if (mode == 0)
        ImageToolbarSendMsg->hide();
    ImageToolbarExit->move(LayoutPixels(m.ExitLeft), 0);
    // All Processes only, after the buttons that were always there.
    ImageToolbarBlocking->setVisible(mode == 3);
    ImageToolbarBlocking->move(LayoutPixels(m.ExitLeft + 50), 0);
    KillProcess1->setEnabled(m.KillProcessItem);
    KillAllProcesses1->setEnabled(m.KillAllItem);
}

void TFormMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBoxServers->viewport() &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        !ListBoxServers->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint()).isValid())
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Some platforms (offscreen, a bare X server) never activate a window: the first
    // showing counts as its first activation there.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TFormMain::FormActivate()
{
    if (!FirstActivation)
        return;
    FirstActivation = false;
    if (const auto interval = ReadRefreshInterval())
        SetRefreshInterval(*interval);
    if (LogonOnFirstActivation)
        ShowLogonDialog();
}

int TFormMain::FreeSlot() const
{
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (!Reserved[static_cast<std::size_t>(slot)] &&
            !(Slots[static_cast<std::size_t>(slot)] && Slots[static_cast<std::size_t>(slot)]->InUse()))
            return slot;
    }
    return -1;
}

int TFormMain::SlotsInUse() const
{
    int count = 0;
    for (const auto& slot : Slots)
        count += slot && slot->InUse() ? 1 : 0;
    return count;
}

void TFormMain::ShowConnectionsFull()
{
    ShowMessage(this, {QStringLiteral("Connections Full"),
                       QStringLiteral("The connection queue is full for this session"), TMessageButtons::Ok,
                       TMessageIcon::Information});
}

void TFormMain::ShowLogonDialog()
{
    if (FreeSlot() < 0) {
        ShowConnectionsFull();
        return;
    }
    Q_EMIT LogonDialogRequested();
}

int TFormMain::ConnectServer(const QString& serverName, bool useWindowsAuthentication,
                             const QString& userName, const QString& password, std::function<void(bool)> done)
{
    const int index = FreeSlot();
    if (index < 0) {
        ShowConnectionsFull();
        if (done)
            done(false);
        return -1;
    }
    auto& slot = Slots[static_cast<std::size_t>(index)];
    slot = std::make_unique<TConnectionSlot>();
    Reserved[static_cast<std::size_t>(index)] = true;
    TConnectionSlot* const attempt = slot.get();
    slot->Connect(this, index, serverName.toStdString(), useWindowsAuthentication, userName.toStdString(),
                  password.toStdString(), FRefreshIntervalSeconds,
                  [this, index, attempt, serverName, done](bool connected) {
                      const auto abandoned =
                          std::find_if(Abandoned.begin(), Abandoned.end(),
                                       [attempt](const auto& kept) { return kept.get() == attempt; });
                      if (abandoned != Abandoned.end()) {
                          // Called off: the outcome is dropped, the threads have ended or are ending.
                          Abandoned.erase(abandoned);
                          return;
                      }
                      Reserved[static_cast<std::size_t>(index)] = false;
                      if (!connected) {
                          // The slot stays free; its threads end by themselves.
                          Slots[static_cast<std::size_t>(index)].reset();
                          if (done)
                              done(false);
                          return;
                      }
                      TConnectionSlot* const connection = Slots[static_cast<std::size_t>(index)].get();
                      FrameCurrentConnection->BindConnection(serverName, connection);
                      FCurrentSlot = index;
                      // Items stay in slot order: the item of a slot goes before the
                      // items of higher slots, whichever connection finished first.
                      int row = 0;
                      while (row < ListBoxServers->count() &&
                             ListBoxServers->item(row)->data(SlotRole).toInt() < index)
                          ++row;
                      auto* item = new QListWidgetItem(serverName);
                      item->setData(SlotRole, index);
                      item->setToolTip(serverName);
                      ListBoxServers->insertItem(row, item);
                      ListBoxServers->setCurrentRow(row);
                      if (done)
                          done(true);
                  });
    return index;
}

void TFormMain::AbandonConnect(int attempt)
{
    if (attempt < 0 || attempt >= SlotCount || !Reserved[static_cast<std::size_t>(attempt)])
        return;
    std::unique_ptr<TConnectionSlot>& slot = Slots[static_cast<std::size_t>(attempt)];
    // Stopped, the slot reports a late success as a failure and shows no error; its
    // outcome comes back to the handler above, which lets it go.
    slot->Stop();
    // An attempt stopped before its thread took it up reports nothing: it goes once
    // its threads have ended.
    std::erase_if(Abandoned, [](const auto& kept) { return kept->WaitUntilFinished({}); });
    Abandoned.push_back(std::move(slot));
    Reserved[static_cast<std::size_t>(attempt)] = false;
}

int TFormMain::AbandonedAttempts() const
{
    return static_cast<int>(std::count_if(Abandoned.begin(), Abandoned.end(),
                                          [](const auto& kept) { return !kept->WaitUntilFinished({}); }));
}

void TFormMain::ListBoxServersClick()
{
    const QListWidgetItem* item = ListBoxServers->currentItem();
    if (!item)
        return;
    const int index = item->data(SlotRole).toInt();
    if (index == FCurrentSlot)
        return;
    TConnectionSlot* const slot = Slots[static_cast<std::size_t>(index)].get();
    if (!slot || !slot->InUse())
        return;
    FCurrentSlot = index;
    FrameCurrentConnection->BindConnection(QString::fromStdString(slot->ServerName()), slot);
    FrameCurrentConnection->RefreshViews();
}

void TFormMain::ShowMessageBox(const std::string& text, const std::string& caption)
{
    // The text says what failed; the box carries no icon of its own.
    ShowMessage(this, {QString::fromStdString(text), QString::fromStdString(caption), TMessageButtons::Ok,
                       TMessageIcon::None});
}

void TFormMain::RefreshSlotView(std::int32_t slotIndex)
{
    if (slotIndex == FCurrentSlot)
        FrameCurrentConnection->RefreshViews();
    ListBoxServers->viewport()->update();
}

void TFormMain::SendDisconnectAlert(std::int32_t slotIndex)
{
    SendAlert(slotIndex, &TEmailAlert::SendDisconnectEmail);
}

void TFormMain::SendCpuAlert(std::int32_t slotIndex)
{
    SendAlert(slotIndex, &TEmailAlert::SendHighCpuEmail);
}

void TFormMain::SendResponseAlert(std::int32_t slotIndex)
{
    SendAlert(slotIndex, &TEmailAlert::SendSlowResponseEmail);
}

// The alert only writes the mail; whether one is sent (alerts on, addresses set) is
// decided there, and the mailer sends it off the main thread.
void TFormMain::SendAlert(std::int32_t slotIndex, void (TEmailAlert::*send)(TAlertMailer&) const)
{
    const TConnectionSlot* slot = Slot(slotIndex);
    if (!slot || !slot->InUse())
        return;
    const TEmailAlert alert(*slot->UserProcesses(), *slot->ServerPerformance(), slot->ServerName());
    (alert.*send)(Mailer);
}

void TFormMain::SetRefreshInterval(int seconds)
{
    FRefreshIntervalSeconds = TConnectionSlot::ClampRefreshInterval(seconds);
    for (const auto& slot : Slots)
        if (slot && slot->InUse())
            slot->SetRefreshInterval(FRefreshIntervalSeconds);
    ReconnectTimer->setInterval(FRefreshIntervalSeconds * 1000);
}

void TFormMain::ReconnectLostServers()
{
    for (const auto& slot : Slots) {
        if (slot && slot->InUse() && slot->ServerPerformance()->Disconnected && !slot->Reconnecting()) {
            const int index = slot->Thread()->SlotIndex;
            slot->Reconnect([this, index](bool reconnected) {
                if (reconnected)
                    RefreshSlotView(index);
            });
        }
    }
}

void TFormMain::ResetCPUPhysicalIOStats1Click()
{
    for (const auto& slot : Slots) {
        if (slot && slot->InUse()) {
            slot->UserProcesses()->ResetBaselines();
            slot->Users()->ResetBaselines();
            slot->Databases()->ResetBaselines();
        }
    }
    if (!FShowSinceReset) {
        mnuDisplayOriginalCPUPhysicalIO1->setChecked(false);
        FShowSinceReset = true;
    }
    FrameCurrentConnection->RefreshViews();
}

void TFormMain::mnuDisplayOriginalCPUPhysicalIO1Click()
{
    FShowSinceReset = mnuDisplayOriginalCPUPhysicalIO1->isChecked();
    mnuDisplayOriginalCPUPhysicalIO1->setChecked(!mnuDisplayOriginalCPUPhysicalIO1->isChecked());
    FrameCurrentConnection->RefreshViews();
}

bool TFormMain::StopAllSlots(int waitMilliseconds)
{
    ReconnectTimer->stop();
    for (const auto& slot : Slots)
        if (slot)
            slot->Stop();
    const QDeadlineTimer deadline(waitMilliseconds);
    bool allFinished = true;
    const auto wait = [&](const std::unique_ptr<TConnectionSlot>& slot) {
        if (!slot)
            return;
        const auto left = std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime()));
        allFinished = slot->WaitUntilFinished(left) && allFinished;
    };
    std::for_each(Slots.begin(), Slots.end(), wait);
    std::for_each(Abandoned.begin(), Abandoned.end(), wait);
    return allFinished;
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    StopAllSlots(0);
    event->accept();
}
