#include "ui/Frameallprocesses.h"

#include "engine/Connectionslot.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "ui/Dialoglayout.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Killcommands.h"
#include "ui/Selectionrules.h"

#include <QSplitter>
#include <QVBoxLayout>

#include <optional>

namespace {

constexpr int ProcessColumns = 16;

} // namespace

TFrameAllProcesses::TFrameAllProcesses(QWidget* parent) : QWidget(parent)
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

    FrameProcessInfoThreads = new TFrameProcessInfo(splitter);
    FrameProcessInfoThreads->SetupThreadGrid();

    splitter->addWidget(ProcessPair);
    splitter->addWidget(FrameProcessInfoThreads);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({LayoutPixels(400), LayoutPixels(163)});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);

    connect(ProcessPair, &TGridPair::RowSelected, this,
            [this](int row) { StringGridProcessesLeftSelectCell(row); });
}

void TFrameAllProcesses::BindConnection(TConnectionSlot* slot)
{
    Slot = slot;
    FrameProcessInfoThreads->SetConnection(slot);
}

void TFrameAllProcesses::RefreshView(bool showSinceReset)
{
    if (!Slot || !Slot->UserProcesses())
        return;
    FSelectedSpid = RememberedSpid(*ProcessModel, SelectedRow());
    Slot->UserProcesses()->FillProcessGrid(*ProcessModel, showSinceReset);
    RestoreSelection();
}

void TFrameAllProcesses::RestoreSelection()
{
    const int row = RestoreSpidRow(*ProcessModel, FSelectedSpid);
    ProcessPair->SetSelectedRow(row);
    ShowProcess(row);
}

void TFrameAllProcesses::StringGridProcessesLeftSelectCell(int row)
{
    ShowProcess(row);
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
