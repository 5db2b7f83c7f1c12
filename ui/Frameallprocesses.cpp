#include "ui/Frameallprocesses.h"

#include "engine/Commonfuncs.h"
#include "engine/Connectionslot.h"
#include "model/Blockingchains.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "ui/Dialoglayout.h"
#include "ui/Frameblockingchains.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridfilterbox.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Killcommands.h"
#include "ui/Selectionrules.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <optional>

namespace {

constexpr int ProcessColumns = 16;

} // namespace

TFrameAllProcesses::TFrameAllProcesses(QWidget* parent)
    : QWidget(parent), ListView([](std::string_view text) { return TextToDateTime(text); })
{
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(3);
    splitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: black; }"));
    splitter->setChildrenCollapsible(false);

    // This list aligns its columns its own way: "SPID" left, "Threads" and "Host
    // Process" right.
    ProcessModel = new TGridModel(ProcessColumns, this);
    const Qt::Alignment L = Qt::AlignLeft;
    const Qt::Alignment R = Qt::AlignRight;
    ProcessModel->SetColumns(
        {QString(), QStringLiteral("SPID"), QStringLiteral("Login"), QStringLiteral("Database"),
         QStringLiteral("Command"), QStringLiteral("Program"), QStringLiteral("Blocked"),
         QStringLiteral("Login Time"), QStringLiteral("Last Batch"), QStringLiteral("CPU Usage"),
         QStringLiteral("Memory Usage"), QStringLiteral("Physical IO"), QStringLiteral("Wait time"),
         QStringLiteral("Open Trans"), QStringLiteral("Threads"), QStringLiteral("Host Process")},
        {18, 30, 125, 125, 125, 125, 45, 125, 125, 90, 90, 90, 65, 65, 45, 125},
        {L, L, L, L, L, L, R, L, L, R, R, R, R, R, R, R});
    // The SPID and the two times are read whole, as the numbers are.
    ProcessModel->SetWholeColumns({1, 7, 8});
    ProcessPair = new TGridPair(ProcessModel, 3, 174, splitter);
    ProcessPair->setObjectName(QStringLiteral("StringGridProcesses"));
    ProcessPair->SetColumnsResizable(false);
    ProcessPair->SetSelectedRow(0);

    FrameBlockingChains = new TFrameBlockingChains(splitter);
    FrameBlockingChains->hide();
    FrameProcessInfoThreads = new TFrameProcessInfo(splitter);
    FrameProcessInfoThreads->SetupThreadGrid();

    splitter->addWidget(ProcessPair);
    splitter->addWidget(FrameBlockingChains);
    splitter->addWidget(FrameProcessInfoThreads);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setStretchFactor(2, 0);
    splitter->setSizes({LayoutPixels(400), LayoutPixels(180), LayoutPixels(163)});

    FFilterBox = new TGridFilterBox(
        QStringLiteral("Filter: login, host, program, database, command or SPID (Ctrl+F)"), this);
    FFilterBox->setObjectName(QStringLiteral("EditFilterProcesses"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FFilterBox);
    layout->addWidget(splitter, 1);

    connect(ProcessPair, &TGridPair::RowSelected, this,
            [this](int row) { StringGridProcessesLeftSelectCell(row); });
    connect(FFilterBox, &QLineEdit::textChanged, this, [this](const QString& text) {
        ListView.SetFilter(text.toStdString());
        Refill();
    });
    for (QTableView* view : {ProcessPair->Left(), ProcessPair->Right()}) {
        view->horizontalHeader()->setSectionsClickable(true);
        connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this,
                [this](int column) { SortByColumn(column); });
    }
    connect(FrameBlockingChains, &TFrameBlockingChains::ProcessSelected, this,
            [this](std::int32_t spid) { Q_EMIT ProcessChosen(spid); });
}

void TFrameAllProcesses::SetBlockingChains(const TBlockingChains* chains)
{
    Chains = chains;
    ProcessModel->SetBlockingChains(chains);
}

void TFrameAllProcesses::SetBlockingChainsShown(bool shown)
{
    FrameBlockingChains->setVisible(shown);
    if (shown && Chains)
        FrameBlockingChains->ShowChains(*Chains);
    if (shown)
        FrameBlockingChains->SelectSpid(FSelectedSpid);
}

bool TFrameAllProcesses::BlockingChainsShown() const
{
    return !FrameBlockingChains->isHidden();
}

void TFrameAllProcesses::FocusFilter()
{
    FFilterBox->Focus();
}

void TFrameAllProcesses::SortByColumn(int column)
{
    ListView.HeadingClicked(column);
    ShowSortIndicator();
    Refill();
}

void TFrameAllProcesses::ShowSortIndicator()
{
    // The toolkit's arrow in the heading; none in the order by SPID.
    for (QTableView* view : {ProcessPair->Left(), ProcessPair->Right()}) {
        QHeaderView* header = view->horizontalHeader();
        header->setSortIndicatorShown(ListView.SortColumn() >= 0);
        header->setSortIndicator(ListView.SortColumn(),
                                 ListView.Descending() ? Qt::DescendingOrder : Qt::AscendingOrder);
    }
}

void TFrameAllProcesses::Refill()
{
    RefreshView(ShowSinceReset);
}

void TFrameAllProcesses::SelectProcess(std::int32_t spid)
{
    const int row = RestoreSpidRowInAnyOrder(*ProcessModel, spid);
    if (RowSpid(*ProcessModel, row) != spid)
        return;
    FSelectedSpid = spid;
    ProcessPair->SetSelectedRow(row);
    ShowProcess(row);
    FrameBlockingChains->SelectSpid(spid);
}

void TFrameAllProcesses::BindConnection(TConnectionSlot* slot)
{
    Slot = slot;
    FrameBlockingChains->BindConnection(slot);
    FrameProcessInfoThreads->SetConnection(slot);
}

void TFrameAllProcesses::RefreshView(bool showSinceReset)
{
    if (!Slot || !Slot->UserProcesses())
        return;
    ShowSinceReset = showSinceReset;
    FSelectedSpid = RememberedSpid(*ProcessModel, SelectedRow());
    const int hidden = Slot->UserProcesses()->FillProcessGrid(*ProcessModel, showSinceReset, ListView);
    RestoreSelection();
    if (Chains && BlockingChainsShown()) {
        FrameBlockingChains->ShowChains(*Chains);
        FrameBlockingChains->SelectSpid(FSelectedSpid);
    }
    if (hidden != FHiddenRows) {
        FHiddenRows = hidden;
        Q_EMIT HiddenRowsChanged(hidden);
    }
}

void TFrameAllProcesses::RestoreSelection()
{
    // Sorted by another column, the next higher SPID is no longer the next row.
    const int row = ListView.SortColumn() < 0 ? RestoreSpidRow(*ProcessModel, FSelectedSpid)
                                              : RestoreSpidRowInAnyOrder(*ProcessModel, FSelectedSpid);
    ProcessPair->SetSelectedRow(row);
    ShowProcess(row);
}

void TFrameAllProcesses::StringGridProcessesLeftSelectCell(int row)
{
    ShowProcess(row);
    if (BlockingChainsShown())
        FrameBlockingChains->SelectSpid(RowSpid(*ProcessModel, row).value_or(0));
}

void TFrameAllProcesses::ShowProcess(int row)
{
    // The empty row of a list without processes shows no process.
    FrameProcessInfoThreads->ShowProcess(RowSpid(*ProcessModel, row).value_or(0));
}

void TFrameAllProcesses::KillSelectedProcess()
{
    const int row = SelectedRow();
    if (row <= 0)
        return;
    if (const std::optional<std::int32_t> spid = RowSpid(*ProcessModel, row))
        KillProcessAfterQuestion(this, Slot, *spid);
}

int TFrameAllProcesses::SelectedRow() const
{
    return ProcessPair->SelectedRow();
}
