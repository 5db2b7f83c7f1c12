#include "ui/Frameconnection.h"

#include "engine/Commonfuncs.h"
#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "model/Gridtext.h"
#include "ui/Dialoglayout.h"
#include "ui/Elidedlabel.h"
#include "ui/Frameallprocesses.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Frameservercharts.h"
#include "ui/Framesessionmonitor.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Tabrow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int TabWidth = 96;
constexpr int TabBarHeight = 24;
const char* const TabCaptions[] = {"Performance", "Users", "Databases", "All Processes"};

// A tab caption over its picture, the selected one drawn as the raised tab.
QString TabStyle(bool selected)
{
    return QStringLiteral(
               "QLabel { border-image: url(:/torvane/%1) 0 0 0 0 stretch stretch; color: #1E1A1E; }")
        .arg(selected ? QStringLiteral("tab-down.svg") : QStringLiteral("tab-up.svg"));
}

} // namespace

TFrameConnection::TFrameConnection(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* tabBar = new QWidget(this);
    tabBar->setObjectName(QStringLiteral("PanelTabbar"));
    tabBar->setFixedHeight(LayoutPixels(TabBarHeight));
    tabBar->setAttribute(Qt::WA_StyledBackground);
    tabBar->setStyleSheet(QStringLiteral(
        "#PanelTabbar { border-image: url(:/torvane/tab-strip.svg) 0 0 0 0 stretch stretch; }"));
    auto* tabs = new QHBoxLayout(tabBar);
    tabs->setContentsMargins(0, 0, 6, 0);
    tabs->setSpacing(0);
    for (int tab = 0; tab < TabCount; ++tab) {
        auto* label = new QLabel(QString::fromLatin1(TabCaptions[tab]), tabBar);
        label->setFixedSize(LayoutPixels(TabWidth), LayoutPixels(TabBarHeight));
        label->setAlignment(Qt::AlignCenter);
        label->setCursor(Qt::PointingHandCursor);
        TabLabels[static_cast<std::size_t>(tab)] = label;
        tabs->addWidget(label);
    }
    new TTabRow(
        {TabLabels.begin(), TabLabels.end()}, [this](int tab) { SelectTab(tab); }, this);
    LabelServerName = new TElidedLabel(tabBar);
    LabelServerName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont serverFont = LabelServerName->font();
    serverFont.setBold(true);
    serverFont.setPointSizeF(serverFont.pointSizeF() * 1.2);
    LabelServerName->setFont(serverFont);
    LabelServerName->setStyleSheet(QStringLiteral("color: #2C252B; background: transparent;"));
    // The name takes the room the tabs leave, and ends in "…" when that is too little.
    tabs->addWidget(LabelServerName, 1);
    LabelStaleData = new QLabel(tabBar);
    LabelStaleData->setStyleSheet(QStringLiteral("color: white; background: #FF0000; padding: 0px 4px;"));
    LabelStaleData->hide();
    tabs->addSpacing(4);
    tabs->addWidget(LabelStaleData);
    layout->addWidget(tabBar);

    PanelClient = new QStackedWidget(this);
    FrameSystemPerformance = new TFrameServerCharts(PanelClient);
    FrameSessionMonitorUsers = new TFrameSessionMonitor(PanelClient);
    FrameSessionMonitorDatabases = new TFrameSessionMonitor(PanelClient);
    FrameSessionAllProcesses = new TFrameAllProcesses(PanelClient);
    for (QWidget* view :
         std::initializer_list<QWidget*>{FrameSystemPerformance, FrameSessionMonitorUsers,
                                         FrameSessionMonitorDatabases, FrameSessionAllProcesses})
        PanelClient->addWidget(view);
    layout->addWidget(PanelClient, 1);
    SelectTab(TabPerformance);

    for (TFrameSessionMonitor* monitor : {FrameSessionMonitorUsers, FrameSessionMonitorDatabases})
        connect(monitor, &TFrameSessionMonitor::HiddenRowsChanged, this, [this] { ShowHiddenRows(); });
    connect(FrameSessionAllProcesses, &TFrameAllProcesses::HiddenRowsChanged, this,
            [this] { ShowHiddenRows(); });
    connect(FrameSessionAllProcesses, &TFrameAllProcesses::ProcessChosen, this,
            [this](std::int32_t spid) { SelectProcessEverywhere(spid); });
    FrameSessionAllProcesses->SetBlockingChains(&Chains);
    FrameSessionMonitorUsers->SetBlockingChains(&Chains);
    FrameSessionMonitorDatabases->SetBlockingChains(&Chains);
}

void TFrameConnection::ShowHiddenRows()
{
    // The caption says how many rows its filter hides; without a filter it is as always.
    const int hidden[] = {0, FrameSessionMonitorUsers->HiddenRows(),
                          FrameSessionMonitorDatabases->HiddenRows(), FrameSessionAllProcesses->HiddenRows()};
    for (int tab = 0; tab < 4; ++tab) {
        QString caption = QString::fromLatin1(TabCaptions[tab]);
        if (hidden[tab] > 0)
            caption += QStringLiteral(" (%1 hidden)").arg(hidden[tab]);
        QLabel* label = TabLabels[static_cast<std::size_t>(tab)];
        label->setText(caption);
        // A longer caption widens its tab rather than being cut.
        label->setFixedWidth(std::max(LayoutPixels(TabWidth), label->fontMetrics().horizontalAdvance(caption) + LayoutPixels(16)));
        label->setToolTip(hidden[tab] > 0 ? QStringLiteral("%1 rows hidden by the filter").arg(hidden[tab])
                                          : QString());
    }
}

void TFrameConnection::FocusFilter()
{
    switch (Tab) {
    case TabUsers:
        FrameSessionMonitorUsers->FocusFilter();
        break;
    case TabDatabases:
        FrameSessionMonitorDatabases->FocusFilter();
        break;
    case TabAllProcesses:
        FrameSessionAllProcesses->FocusFilter();
        break;
    default:
        break;
    }
}

void TFrameConnection::ToggleBlockingChains()
{
    const bool show = Tab != TabAllProcesses || !FrameSessionAllProcesses->BlockingChainsShown();
    if (show)
        SelectTab(TabAllProcesses);
    FrameSessionAllProcesses->SetBlockingChainsShown(show);
}

void TFrameConnection::SelectProcessEverywhere(std::int32_t spid)
{
    FrameSessionAllProcesses->SelectProcess(spid);
    FrameSessionMonitorUsers->SelectProcess(spid);
    FrameSessionMonitorDatabases->SelectProcess(spid);
}

TGridPair* TFrameConnection::ActiveGridPair() const
{
    TFrameSessionMonitor* monitor = Tab == TabUsers       ? FrameSessionMonitorUsers
                                    : Tab == TabDatabases ? FrameSessionMonitorDatabases
                                                          : nullptr;
    const QWidget* focus = QApplication::focusWidget();
    std::vector<TGridPair*> pairs;
    if (monitor)
        pairs = {monitor->SummaryGridPair(), monitor->DetailGridPair(),
                 monitor->ProcessInfo()->ThreadGridPair()};
    else if (Tab == TabAllProcesses)
        pairs = {FrameSessionAllProcesses->ProcessGridPair(),
                 FrameSessionAllProcesses->ProcessInfo()->ThreadGridPair()};
    for (TGridPair* pair : pairs) {
        if (focus && pair->isAncestorOf(focus))
            return pair;
    }
    return pairs.empty() ? nullptr : monitor ? pairs[1] : pairs[0];
}

void TFrameConnection::CopySelectedRow() const
{
    if (const TGridPair* pair = ActiveGridPair(); pair && pair->SelectedRow() > 0)
        QApplication::clipboard()->setText(QString::fromStdString(
            TabSeparatedRows(*pair->Model(), pair->SelectedRow(), pair->SelectedRow())));
}

void TFrameConnection::CopyGrid() const
{
    if (const TGridPair* pair = ActiveGridPair())
        QApplication::clipboard()->setText(QString::fromStdString(TabSeparatedGrid(*pair->Model())));
}

std::vector<TNamedGrid> TFrameConnection::ShownGrid() const
{
    const TGridPair* pair = ActiveGridPair();
    if (!pair)
        return {};
    for (const TNamedGrid& grid : AllGrids()) {
        if (grid.Grid == pair->Model())
            return {grid};
    }
    return {};
}

std::vector<TNamedGrid> TFrameConnection::AllGrids() const
{
    return {{QStringLiteral("Users"), FrameSessionMonitorUsers->SummaryGrid()},
            {QStringLiteral("User Processes"), FrameSessionMonitorUsers->DetailGrid()},
            {QStringLiteral("User Process Threads"), FrameSessionMonitorUsers->ProcessInfo()->ThreadGrid()},
            {QStringLiteral("Databases"), FrameSessionMonitorDatabases->SummaryGrid()},
            {QStringLiteral("Database Processes"), FrameSessionMonitorDatabases->DetailGrid()},
            {QStringLiteral("Database Process Threads"),
             FrameSessionMonitorDatabases->ProcessInfo()->ThreadGrid()},
            {QStringLiteral("All Processes"), FrameSessionAllProcesses->ProcessGrid()},
            {QStringLiteral("Process Threads"), FrameSessionAllProcesses->ProcessInfo()->ThreadGrid()}};
}

void TFrameConnection::SetMainWindow(TConnectionFrameOwner* mainWindow)
{
    MainWindow = mainWindow;
}

void TFrameConnection::SetupViews()
{
    FrameSessionMonitorUsers->SetupUsersMode();
    FrameSessionMonitorDatabases->SetupDatabasesMode();
}

void TFrameConnection::SelectNextTab(int step)
{
    SelectTab(((Tab + step) % TabCount + TabCount) % TabCount);
}

void TFrameConnection::SelectTab(int tab)
{
    if (tab < 0 || tab >= TabCount)
        return;
    Tab = tab;
    FillView(tab);
    PanelClient->setCurrentIndex(tab);
    for (int other = 0; other < TabCount; ++other) {
        QLabel* label = TabLabels[static_cast<std::size_t>(other)];
        label->setStyleSheet(TabStyle(other == tab));
        QFont font = label->font();
        font.setBold(other == tab);
        label->setFont(font);
    }
    if (MainWindow)
        MainWindow->SetToolbarMode(tab);
}

void TFrameConnection::BindConnection(const QString& serverName, TConnectionSlot* slot)
{
    Slot = slot;
    Stale.fill(true);
    // The marks read the chains as rows are drawn: never the previous server's.
    if (slot && slot->UserProcesses())
        Chains.Build(*slot->UserProcesses(), slot->Threads());
    else
        Chains = TBlockingChains();
    FrameSessionMonitorUsers->BindConnection(slot);
    FrameSessionMonitorDatabases->BindConnection(slot);
    FrameSessionAllProcesses->BindConnection(slot);
    FrameSystemPerformance->AttachServer(serverName, slot);
    LabelServerName->SetText(serverName);
    ShowServerState();
}

void TFrameConnection::ShowServerState()
{
    const bool stale = Slot && Slot->ServerPerformance() && Slot->ServerPerformance()->Disconnected;
    if (stale) {
        const TDateTime last = Slot->Thread() ? Slot->Thread()->ServerTime : 0;
        LabelStaleData->setText(last > 0 ? QStringLiteral("Disconnected: data of %1")
                                               .arg(QString::fromStdString(DateTimeToText(last)))
                                         : QStringLiteral("Disconnected"));
    }
    LabelStaleData->setVisible(stale);
}

void TFrameConnection::RefreshViews()
{
    if (!Slot)
        return;
    if (Slot->UserProcesses())
        Chains.Build(*Slot->UserProcesses(), Slot->Threads());
    // Only the view on screen is filled; the others are filled when they are shown, from
    // the data of the latest refresh, so a large server costs one view's fill per refresh.
    Stale.fill(true);
    FillView(Tab);
    ShowServerState();
}

void TFrameConnection::FillAllViews()
{
    for (int tab = 0; tab < TabCount; ++tab)
        FillView(tab);
}

void TFrameConnection::FillView(int tab)
{
    if (!Slot || !Stale[static_cast<std::size_t>(tab)])
        return;
    Stale[static_cast<std::size_t>(tab)] = false;
    const bool showSinceReset = MainWindow && MainWindow->ShowSinceReset();
    switch (tab) {
    case TabPerformance:
        FrameSystemPerformance->RefreshView();
        break;
    case TabUsers:
        FrameSessionMonitorUsers->RefreshView(showSinceReset);
        break;
    case TabDatabases:
        FrameSessionMonitorDatabases->RefreshView(showSinceReset);
        break;
    case TabAllProcesses:
        FrameSessionAllProcesses->RefreshView(showSinceReset);
        break;
    default:
        break;
    }
}

void TFrameConnection::RefreshNow()
{
    if (!Slot || !Slot->InUse())
        return;
    // A server that does not answer is tried again as Attempt Reconnect does: a refresh
    // would only report the same disconnect once more.
    if (Slot->ServerPerformance()->Disconnected)
        FrameSystemPerformance->Button1->click();
    else
        Slot->RequestRefresh();
}

void TFrameConnection::KillSelectedProcess()
{
    if (!Slot)
        return;
    switch (Tab) {
    case TabAllProcesses:
        FrameSessionAllProcesses->KillSelectedProcess();
        break;
    case TabDatabases:
        FrameSessionMonitorDatabases->KillSelectedProcess();
        break;
    case TabUsers:
        FrameSessionMonitorUsers->KillSelectedProcess();
        break;
    default:
        break;
    }
}

void TFrameConnection::KillAllProcesses()
{
    if (!Slot)
        return;
    if (Tab == TabDatabases)
        FrameSessionMonitorDatabases->KillAllProcesses();
    else if (Tab == TabUsers)
        FrameSessionMonitorUsers->KillAllProcesses();
}
