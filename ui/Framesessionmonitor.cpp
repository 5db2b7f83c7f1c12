#include "ui/Framesessionmonitor.h"

#include "engine/Connectionslot.h"
#include "model/Celltext.h"
#include "model/Fixedtext.h"
#include "model/Gridrows.h"
#include "model/Namecompare.h"
#include "model/Torvaneprocessdatabases.h"
#include "model/Torvaneprocessuserprocesses.h"
#include "model/Torvaneprocessusers.h"
#include "ui/Dialoglayout.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Gridfilterbox.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Killcommands.h"

#include <QLabel>
#include <QMenu>
#include <QSplitter>
#include <QVBoxLayout>

#include <array>
#include <optional>
#include <vector>

namespace {

constexpr int SummaryColumns = 12;
constexpr int UsersDetailColumns = 15;
constexpr int DatabasesDetailColumns = 16;
// The toolkit's width for a column nobody sized.
constexpr int DefaultColumnWidth = 64;

struct TColumn
{
    const char* Heading;
    int Width;
    Qt::Alignment Alignment;
    // A left-aligned value never cut (right-aligned ones never are).
    bool Whole = false;
};

constexpr Qt::Alignment L = Qt::AlignLeft;
constexpr Qt::Alignment R = Qt::AlignRight;

const std::vector<TColumn> UsersSummary = {
    {"", 16, L},
    {"Current Users", 140, L},
    {"Host", 125, L},
    {"#Procs", 45, R},
    {"Latest Activity", 115, L, true},
    {"CPU Usage", 85, R},
    {"Memory Usage", 85, R},
    {"Physical IO", 85, R},
    {"Locked", 40, L, true},
    {"NT Login Name", 125, L},
    {"Net Library", 80, L},
    {"Net Address", 80, L},
};

// The summary keeps twelve columns in this mode too; the last four stay empty.
const std::vector<TColumn> DatabasesSummary = {
    {"", 16, L},
    {"Database", 140, L},
    {"#Procs", 45, R},
    {"Latest Activity", 115, L, true},
    {"CPU Usage", 85, R},
    {"Memory Usage", 85, R},
    {"Physical IO", 85, R},
    {"Locked", 40, L, true},
    {"", DefaultColumnWidth, L},
    {"", DefaultColumnWidth, L},
    {"", DefaultColumnWidth, L},
    {"", DefaultColumnWidth, L},
};

const std::vector<TColumn> UsersDetail = {
    {"", 18, L},           {"SPID", 30, R},         {"Database", 125, L},     {"Command", 125, L},
    {"Program", 125, L},   {"Blocked", 45, R},      {"Login Time", 125, L, true},   {"Last Batch", 125, L, true},
    {"CPU Usage", 90, R},  {"Memory Usage", 90, R}, {"Physical IO", 90, R},   {"Wait time", 65, R},
    {"Open Trans", 65, R}, {"Threads", 45, L, true},      {"Host Process", 125, L, true},
};

const std::vector<TColumn> DatabasesDetail = {
    {"", 18, L},
    {"SPID", 30, R},
    {"Login", 125, L},
    {"Host", 125, L},
    {"Command", 125, L},
    {"Program", 125, L},
    {"Blocked", 45, R},
    {"Login Time", 125, L, true},
    {"Last Batch", 125, L, true},
    {"CPU Usage", 90, R},
    {"Memory Usage", 90, R},
    {"Physical IO", 90, R},
    {"Wait time", 65, R},
    {"Open Trans", 65, R},
    {"Threads", 45, L, true},
    {"Host Process", 125, L, true},
};

// Columns cannot be moved, so every data column is shown in the grid column of its
// own number.
constexpr std::array<std::int32_t, SummaryColumns> SummaryColumnMap = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

void SetColumns(TGridModel& model, TGridPair& pair, const std::vector<TColumn>& columns)
{
    std::vector<QString> headings;
    std::vector<int> widths;
    std::vector<Qt::Alignment> alignments;
    std::vector<int> whole;
    for (const TColumn& column : columns) {
        headings.push_back(QString::fromLatin1(column.Heading));
        widths.push_back(column.Width);
        alignments.push_back(column.Alignment);
        if (column.Whole)
            whole.push_back(static_cast<int>(headings.size()) - 1);
    }
    model.SetColumns(headings, widths, alignments);
    model.SetWholeColumns(whole);
    pair.ApplyColumnWidths();
}

// A process list with nothing to list: the heading and one empty row, as the fills
// leave it.
void EmptyProcessList(TGridModel& grid)
{
    grid.BeginUpdate();
    grid.SetRowCount(2);
    for (int col = 0; col < grid.ColCount(); ++col)
        grid.SetCell(col, 1, {});
    grid.EndUpdate();
}

} // namespace

TFrameSessionMonitor::TFrameSessionMonitor(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setHandleWidth(3);
    splitter->setChildrenCollapsible(false);

    SummaryModel = new TGridModel(SummaryColumns, this);
    SummaryPair = new TGridPair(SummaryModel, 2, 157, splitter);
    SummaryPair->setObjectName(QStringLiteral("PanelProcessSummary"));

    auto* processes = new QWidget(splitter);
    processes->setObjectName(QStringLiteral("PanelProcesses"));
    StaticText1 = new QLabel(QStringLiteral(" Database Session Parent"), processes);
    StaticText1->setObjectName(QStringLiteral("StaticText1"));
    StaticText1->setFixedHeight(LayoutPixels(17));
    StaticText1->setStyleSheet(QStringLiteral(
        "QLabel { background: #808080; color: #EBE9ED; font-weight: bold; border: 1px solid black; }"));
    DetailModel = new TGridModel(UsersDetailColumns, this);
    DetailPair = new TGridPair(DetailModel, 2, 49, processes);
    DetailPair->setObjectName(QStringLiteral("StringGridDetail"));
    DetailPair->SetSelectedRow(-1);
    auto* processesLayout = new QVBoxLayout(processes);
    processesLayout->setContentsMargins(0, 0, 0, 0);
    processesLayout->setSpacing(0);
    processesLayout->addWidget(StaticText1);
    processesLayout->addWidget(DetailPair, 1);

    FrameProcessInfoThreads = new TFrameProcessInfo(splitter);
    FrameProcessInfoThreads->setObjectName(QStringLiteral("FrameProcessInfoThreads"));

    splitter->addWidget(SummaryPair);
    splitter->addWidget(processes);
    splitter->addWidget(FrameProcessInfoThreads);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    splitter->setSizes({LayoutPixels(157), LayoutPixels(300), LayoutPixels(151)});

    FFilterBox = new TGridFilterBox(QString(), this);
    FFilterBox->setObjectName(QStringLiteral("EditFilterSummary"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(FFilterBox);
    layout->addWidget(splitter, 1);
    connect(FFilterBox, &QLineEdit::textChanged, this, [this](const QString& text) {
        Filter.SetText(text.toStdString());
        RefreshView(ShowSinceReset);
    });

    PopupMenuSummary = new QMenu(this);
    PopupMenuSummary->setObjectName(QStringLiteral("PopupMenuSummary"));
    SendNetMessage1 = PopupMenuSummary->addAction(QStringLiteral("Send Net Message"));
    SendNetMessage1->setObjectName(QStringLiteral("SendNetMessage1"));
    // Messages to a user's workstation have no counterpart on the servers monitored here.
    SendNetMessage1->setVisible(false);
    KillAllAttachedProcesses1 = PopupMenuSummary->addAction(QStringLiteral("Kill All Attached Processes"));
    KillAllAttachedProcesses1->setObjectName(QStringLiteral("KillAllAttachedProcesses1"));
    connect(KillAllAttachedProcesses1, &QAction::triggered, this,
            [this] { KillAllAttachedProcesses1Click(); });

    connect(SummaryPair, &TGridPair::RowSelected, this,
            [this](int row) { StringGridSummaryRightSelectCell(row); });
    connect(SummaryPair, &TGridPair::RowContextMenu, this,
            [this](int row, const QPoint& position) { StringGridSummaryRightMouseDown(row, position); });
    connect(DetailPair, &TGridPair::RowSelected, this,
            [this](int row) { StringGridDetailRightSelectCell(row); });
}

void TFrameSessionMonitor::SetupUsersMode()
{
    FDatabaseMode = false;
    FFilterBox->setPlaceholderText(QStringLiteral("Filter: login, host or NT login name (Ctrl+F)"));
    SetColumns(*SummaryModel, *SummaryPair, UsersSummary);
    SetupDetailColumns();
    FrameProcessInfoThreads->SetupThreadGrid();
}

void TFrameSessionMonitor::SetupDatabasesMode()
{
    FDatabaseMode = true;
    FFilterBox->setPlaceholderText(QStringLiteral("Filter: database (Ctrl+F)"));
    SetColumns(*SummaryModel, *SummaryPair, DatabasesSummary);
    SetupDetailColumns();
    FrameProcessInfoThreads->SetupThreadGrid();
}

void TFrameSessionMonitor::SetupDetailColumns()
{
    DetailModel->SetColumnCount(FDatabaseMode ? DatabasesDetailColumns : UsersDetailColumns);
    SetColumns(*DetailModel, *DetailPair, FDatabaseMode ? DatabasesDetail : UsersDetail);
}

void TFrameSessionMonitor::BindConnection(TConnectionSlot* slot)
{
    Slot = slot;
    SummaryPair->SetSelectedRow(1);
    DetailPair->SetSelectedRow(1);
    FrameProcessInfoThreads->SetConnection(slot);
}

void TFrameSessionMonitor::RefreshView(bool showSinceReset)
{
    if (!Slot || !Slot->Users())
        return;
    ShowSinceReset = showSinceReset;
    RememberSelection();
    if (FDatabaseMode)
        Slot->Databases()->FillDatabaseGrid(*SummaryModel, SummaryColumnMap, ShowSinceReset);
    else
        Slot->Users()->FillUserGrid(*SummaryModel, SummaryColumnMap, ShowSinceReset);
    FilterSummary();
    RestoreSelection();
}

void TFrameSessionMonitor::FilterSummary()
{
    static constexpr std::int32_t UserColumns[] = {1, 2, 9};
    static constexpr std::int32_t DatabaseColumns[] = {1};
    const int hidden = FDatabaseMode ? KeepMatchingRows(*SummaryModel, Filter, DatabaseColumns)
                                     : KeepMatchingRows(*SummaryModel, Filter, UserColumns);
    if (hidden != FHiddenRows) {
        FHiddenRows = hidden;
        Q_EMIT HiddenRowsChanged(hidden);
    }
}

void TFrameSessionMonitor::SetBlockingChains(const TBlockingChains* chains)
{
    DetailModel->SetBlockingChains(chains);
}

void TFrameSessionMonitor::FocusFilter()
{
    FFilterBox->Focus();
}

int TFrameSessionMonitor::SummaryRowOf(std::int32_t spid) const
{
    const TTorvaneProcessUserProcesses* processes = Slot ? Slot->UserProcesses() : nullptr;
    if (!processes)
        return 0;
    const ProcessEntry* entry = nullptr;
    for (std::int32_t i = 0; i < processes->Count() && !entry; ++i) {
        if (processes->Entry(i).Spid == spid)
            entry = &processes->Entry(i);
    }
    if (!entry)
        return 0;
    for (int row = 1; row < SummaryModel->RowCount(); ++row) {
        if (FDatabaseMode) {
            // The same test the database's process list applies.
            if (processes->WorksInDatabase(*entry, TFoldedName(SummaryModel->Cell(1, row))))
                return row;
            continue;
        }
        const TUserRowKey key = UserRowKey(*SummaryModel, row);
        if (SameName(FixedText(entry->LoginName), key.Login) &&
            SameName(FixedText(entry->HostName), key.Host) &&
            SameName(FixedText(entry->NetAddress), key.NetAddress) &&
            SameName(TNtLoginName(FixedText(entry->NtDomain), FixedText(entry->NtUserName)), key.NtLogin))
            return row;
    }
    return 0;
}

void TFrameSessionMonitor::SelectProcess(std::int32_t spid)
{
    const int row = SummaryRowOf(spid);
    if (row <= 0)
        return;
    SummaryPair->SetSelectedRow(row);
    ChosenSpid = spid;
    RefreshDetail();
}

bool TFrameSessionMonitor::SummaryRowExists(int row) const
{
    return row >= 1 && row < SummaryModel->RowCount();
}

void TFrameSessionMonitor::RememberSelection()
{
    // A summary without the row (no data yet) leaves the keys as they were.
    const int row = SelectedRow();
    if (!SummaryRowExists(row))
        return;
    if (FDatabaseMode)
        KeyDatabase = SummaryModel->Cell(1, row);
    else
        KeyUser = UserRowKey(*SummaryModel, row);
}

void TFrameSessionMonitor::RestoreSelection()
{
    const int row = FDatabaseMode ? RestoreDatabaseRow(*SummaryModel, SelectedRow(), KeyDatabase)
                                  : RestoreUserRow(*SummaryModel, SelectedRow(), KeyUser);
    SummaryPair->SetSelectedRow(row);
    RefreshDetail();
}

void TFrameSessionMonitor::RefreshDetail()
{
    const int row = SelectedRow();
    FSelectedSpid = ChosenSpid > 0 ? ChosenSpid : RememberedSpid(*DetailModel, SelectedDetailRow());
    ChosenSpid = 0;
    if (!Slot || !Slot->UserProcesses() || !SummaryRowExists(row)) {
        EmptyProcessList(*DetailModel);
        RestoreDetailSelection();
        return;
    }
    const QString name = SummaryModel->CellText(1, row);
    if (FDatabaseMode) {
        StaticText1->setText(QStringLiteral("Database: ") + name);
        Slot->UserProcesses()->FillDatabaseProcessGrid(*DetailModel, SummaryModel->Cell(1, row),
                                                       ShowSinceReset);
    } else {
        const QString& host = SummaryModel->CellText(2, row);
        QString heading = QStringLiteral("User: ") + name;
        if (!host.isEmpty())
            heading += QStringLiteral(" (") + host + QLatin1Char(')');
        StaticText1->setText(heading);
        const TUserRowKey user = UserRowKey(*SummaryModel, row);
        Slot->UserProcesses()->FillUserProcessGrid(*DetailModel, user.Login, user.Host, user.NtLogin,
                                                   user.NetAddress, ShowSinceReset);
    }
    RestoreDetailSelection();
}

void TFrameSessionMonitor::RestoreDetailSelection()
{
    const int row = RestoreSpidRow(*DetailModel, FSelectedSpid);
    DetailPair->SetSelectedRow(row);
    ShowDetailProcess(row);
}

void TFrameSessionMonitor::ShowDetailProcess(int row)
{
    // The empty row of a list without processes shows no process.
    FrameProcessInfoThreads->ShowProcess(RowSpid(*DetailModel, row).value_or(0));
}

void TFrameSessionMonitor::StringGridSummaryRightSelectCell(int)
{
    RefreshDetail();
}

void TFrameSessionMonitor::StringGridDetailRightSelectCell(int row)
{
    ShowDetailProcess(row);
}

void TFrameSessionMonitor::StringGridSummaryRightMouseDown(int row, const QPoint& globalPosition)
{
    // The row under the mouse is highlighted by the pair; the detail follows at the
    // next refresh or selection.
    PopupOnRow = SummaryRowExists(row);
    SendNetMessage1->setEnabled(PopupOnRow);
    KillAllAttachedProcesses1->setEnabled(PopupOnRow);
    PopupMenuSummary->popup(globalPosition);
}

void TFrameSessionMonitor::KillAllAttachedProcesses1Click()
{
    // The question is about the row the user right-clicked: its processes are shown
    // first, so that the detail lists what the kill will end.
    RefreshDetail();
    KillAllProcesses();
}

void TFrameSessionMonitor::KillSelectedProcess()
{
    const int row = SelectedDetailRow();
    if (row <= 0)
        return;
    if (const std::optional<std::int32_t> spid = RowSpid(*DetailModel, row))
        KillProcessAfterQuestion(this, Slot, *spid);
}

void TFrameSessionMonitor::KillAllProcesses()
{
    if (!Slot || !Slot->UserProcesses())
        return;
    if (FDatabaseMode) {
        const int row = SelectedRow();
        if (!SummaryRowExists(row))
            return;
        const std::string database = SummaryModel->Cell(1, row);
        if (!database.empty())
            KillDatabaseProcessesAfterQuestion(this, Slot, database);
        return;
    }
    // Every process of the detail belongs to the selected user: the first one names it.
    const std::optional<std::int32_t> spid = RowSpid(*DetailModel, 1);
    std::string login, ntDomain, ntUserName, host;
    if (spid && Slot->UserProcesses()->FindProcessIdentity(*spid, login, ntDomain, ntUserName, host))
        KillUserProcessesAfterQuestion(this, Slot, login, ntDomain, ntUserName, host);
}

int TFrameSessionMonitor::SelectedRow() const
{
    return SummaryPair->SelectedRow();
}

int TFrameSessionMonitor::SelectedDetailRow() const
{
    return DetailPair->SelectedRow();
}

QString TFrameSessionMonitor::DetailHeading() const
{
    return StaticText1->text();
}
