#include "ui/Gridmodel.h"

#include "model/Blockingchains.h"
#include "ui/Dialoglayout.h"

#include <QPoint>

#include <algorithm>
#include <charconv>

namespace {

const std::string EmptyText;

QString Shown(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

TGridModel::TGridModel(int32_t columns, QObject* parent)
    : QAbstractTableModel(parent), Columns(columns), Cells(static_cast<std::size_t>(columns)),
      Widths(static_cast<std::size_t>(columns), 64),
      Alignments(static_cast<std::size_t>(columns), Qt::AlignLeft), Whole(static_cast<std::size_t>(columns))
{
    for (int& width : Widths)
        width = LayoutPixels(width);
}

void TGridModel::SetColumns(const std::vector<QString>& headings, const std::vector<int>& widths,
                            const std::vector<Qt::Alignment>& alignments)
{
    for (int32_t col = 0; col < Columns; ++col) {
        const auto index = static_cast<std::size_t>(col);
        if (index < headings.size())
            Cells[index] = headings[index].toStdString();
        if (index < widths.size())
            Widths[index] = LayoutPixels(widths[index]);
        if (index < alignments.size())
            Alignments[index] = alignments[index];
    }
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

void TGridModel::SetPadRightAligned(bool pad)
{
    PadRightAligned = pad;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
}

void TGridModel::SetStateColumn(bool stateColumn)
{
    StateColumn = stateColumn;
}

void TGridModel::SetColumnCount(int32_t columns)
{
    columns = std::max<int32_t>(columns, 1);
    if (columns == Columns)
        return;
    beginResetModel();
    std::vector<std::string> cells(static_cast<std::size_t>(Rows) * static_cast<std::size_t>(columns));
    const int32_t kept = std::min(columns, Columns);
    for (int32_t row = 0; row < Rows; ++row) {
        for (int32_t col = 0; col < kept; ++col)
            cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                  static_cast<std::size_t>(col)] =
                std::move(Cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(Columns) +
                                static_cast<std::size_t>(col)]);
    }
    Cells = std::move(cells);
    Widths.resize(static_cast<std::size_t>(columns), LayoutPixels(64));
    Alignments.resize(static_cast<std::size_t>(columns), Qt::AlignLeft);
    Whole.resize(static_cast<std::size_t>(columns));
    Columns = columns;
    endResetModel();
}

void TGridModel::SetWholeColumns(const std::vector<int>& columns)
{
    std::fill(Whole.begin(), Whole.end(), false);
    for (const int column : columns)
        if (column >= 0 && column < Columns)
            Whole[static_cast<std::size_t>(column)] = true;
}

bool TGridModel::KeepsWhole(int column) const
{
    if (column < 0 || column >= Columns || (column == 0 && StateColumn))
        return false;
    return Whole[static_cast<std::size_t>(column)] || (Alignments[static_cast<std::size_t>(column)] & Qt::AlignRight);
}

std::vector<QString> TGridModel::LongestTexts(int column) const
{
    std::vector<QString> longest;
    if (column < 0 || column >= Columns)
        return longest;
    std::size_t length = 0;
    for (int32_t row = 1; row < PublishedRows && row < Rows; ++row)
        length = std::max(length, CellBytes(column, row).size());
    if (length == 0)
        return longest;
    for (int32_t row = 1; row < PublishedRows && row < Rows && longest.size() < Candidates; ++row) {
        const std::string& text = CellBytes(column, row);
        if (text.size() == length) {
            QString shown = Shown(text);
            if (std::find(longest.begin(), longest.end(), shown) == longest.end())
                longest.push_back(std::move(shown));
        }
    }
    return longest;
}

bool TGridModel::Padded(int column) const
{
    return PadRightAligned || !(Alignments[static_cast<std::size_t>(column)] & Qt::AlignRight);
}

int TGridModel::ColumnWidth(int column) const
{
    return column >= 0 && column < Columns ? Widths[static_cast<std::size_t>(column)] : 0;
}

void TGridModel::SetColumnWidth(int column, int width)
{
    if (column >= 0 && column < Columns && width > 0)
        Widths[static_cast<std::size_t>(column)] = width;
}

int32_t TGridModel::RowCount() const
{
    return Rows;
}

void TGridModel::SetRowCount(int32_t rows)
{
    rows = std::max<int32_t>(rows, 1);
    if (rows == Rows)
        return;
    Cells.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(Columns));
    Rows = rows;
    if (UpdateDepth == 0)
        Publish();
}

int32_t TGridModel::ColCount() const
{
    return Columns;
}

std::string TGridModel::Cell(int32_t col, int32_t row) const
{
    return CellBytes(col, row);
}

QString TGridModel::CellText(int32_t col, int32_t row) const
{
    return Shown(CellBytes(col, row));
}

const std::string& TGridModel::CellBytes(int32_t col, int32_t row) const
{
    if (col < 0 || col >= Columns || row < 0 || row >= Rows)
        return EmptyText;
    return Cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(Columns) +
                 static_cast<std::size_t>(col)];
}

void TGridModel::SetCell(int32_t col, int32_t row, std::string_view text)
{
    if (col < 0 || col >= Columns || row < 0 || row >= Rows)
        return;
    std::string& cell = Cells[static_cast<std::size_t>(row) * static_cast<std::size_t>(Columns) +
                              static_cast<std::size_t>(col)];
    if (cell != text)
        cell.assign(text);
    if (UpdateDepth == 0)
        Publish();
}

void TGridModel::BeginUpdate()
{
    ++UpdateDepth;
}

void TGridModel::EndUpdate()
{
    if (UpdateDepth > 0 && --UpdateDepth == 0)
        Publish();
}

void TGridModel::Publish()
{
    if (PublishedRows != Rows) {
        beginResetModel();
        PublishedRows = Rows;
        endResetModel();
    } else if (Rows > 1) {
        Q_EMIT dataChanged(index(0, 0), index(Rows - 2, Columns - 1));
    }
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
    Q_EMIT Filled();
}

void TGridModel::SetBlockingChains(const TBlockingChains* chains)
{
    Chains = chains;
}

int TGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : PublishedRows - 1;
}

int TGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant TGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int32_t row = index.row() + 1;
    switch (role) {
    case Qt::DisplayRole:
        return index.column() == 0 && StateColumn ? QVariant() : QVariant(CellText(index.column(), row));
    case StateCodeRole:
        return index.column() == 0 && StateColumn ? QVariant(CellText(0, row)) : QVariant();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Alignments[static_cast<std::size_t>(index.column())] | Qt::AlignTop);
    case PaddedRole:
        return Padded(index.column());
    case LeadBlockerRole: {
        // Looked up as rows are drawn: a refresh costs nothing for the rows out of view.
        if (!Chains || Chains->Leads().empty())
            return {};
        const std::string& cell = CellBytes(1, row);
        int32_t spid = 0;
        const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), spid);
        if (error != std::errc() || end != cell.data() + cell.size())
            return {};
        const TBlockingChains::TLead* lead = Chains->FindLead(spid);
        return lead ? QVariant(QPoint(lead->DirectWaiters, lead->AllWaiters)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant TGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= Columns)
        return {};
    if (role == Qt::DisplayRole)
        return HeadingText(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Alignments[static_cast<std::size_t>(section)] | Qt::AlignVCenter);
    return {};
}

QString TGridModel::HeadingText(int column) const
{
    // The heading keeps the cells' one blank on the aligned side.
    if (column < 0 || column >= Columns || (column == 0 && StateColumn))
        return CellText(column, 0);
    return ShownText(column, CellText(column, 0));
}

QString TGridModel::ShownText(int column, const QString& text) const
{
    if (column < 0 || column >= Columns || text.isEmpty() || !Padded(column))
        return text;
    if (Alignments[static_cast<std::size_t>(column)] & Qt::AlignRight)
        return QString(text + QLatin1Char(' '));
    return QString(QLatin1Char(' ') + text);
}

Qt::ItemFlags TGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
