#pragma once
// The Qt side of the model's string grids: one table model that the fills write into
// (it implements TStringGrid), with row 0 as the heading row shown by the views'
// horizontal header. A fill is one change: a single whole-table dataChanged when the
// row count stayed, a reset when it changed, never a signal per cell.
//
// Cells keep the fills' UTF-8 text and become QStrings only when shown: a refresh of a
// large server rewrites hundreds of thousands of cells, mostly with the text they
// already hold, which a byte comparison finds at once, while only the rows in view
// are ever drawn.

#include "model/Stringgrid.h"

class TBlockingChains;

#include <QAbstractTableModel>
#include <QString>

#include <vector>

class TGridModel : public QAbstractTableModel, public TStringGrid
{
    Q_OBJECT

public:
    // The role that tells the delegate a cell is column 0's state picture.
    static constexpr int StateCodeRole = Qt::UserRole + 1;
    // Whether the delegate adds one blank on the aligned side of a cell's text (bool).
    static constexpr int PaddedRole = Qt::UserRole + 2;
    // Of a lead blocker's row (column 1 holds its SPID): the sessions waiting behind it,
    // as a QPoint of those waiting directly (x) and in all (y); invalid for other rows.
    static constexpr int LeadBlockerRole = Qt::UserRole + 3;

    explicit TGridModel(int32_t columns, QObject* parent = nullptr);

    // The columns' headings, widths in design pixels (kept in the layout unit) and
    // alignments (Qt::AlignRight or Qt::AlignLeft); column 0 is the state picture of
    // every data row unless SetStateColumn(false). Right-aligned columns hold numbers
    // and are never cut (see KeepsWhole).
    void SetColumns(const std::vector<QString>& headings, const std::vector<int>& widths,
                    const std::vector<Qt::Alignment>& alignments);
    // Left-aligned columns whose values are never cut either (a SPID, a date and time,
    // a count): the views widen them to their widest value.
    void SetWholeColumns(const std::vector<int>& columns);
    bool KeepsWhole(int column) const;
    // The longest text of the column's data rows (in bytes, which for the numbers and
    // dates of the columns kept whole is also the widest), at most Candidates of them
    // when several are as long.
    static constexpr int Candidates = 8;
    std::vector<QString> LongestTexts(int column) const;
    // A text of the column as shown, with the blank added on its aligned side.
    QString ShownText(int column, const QString& text) const;
    // The heading as shown.
    QString HeadingText(int column) const;
    // Grids whose right-aligned headings carry their own trailing blank show
    // right-aligned texts without an added one (left-aligned ones still get theirs).
    void SetPadRightAligned(bool pad);
    // False for grids whose column 0 is text like any other.
    void SetStateColumn(bool stateColumn);
    // Changes the number of columns (a reset); cells, widths and alignments of the
    // columns kept stay.
    void SetColumnCount(int32_t columns);
    int ColumnWidth(int column) const;
    // The user widened or narrowed a column: kept across fills.
    void SetColumnWidth(int column, int width);

    // TStringGrid: grid rows, row 0 the heading. Data row r of the grid is view row r-1.
    int32_t RowCount() const override;
    void SetRowCount(int32_t rows) override;
    int32_t ColCount() const override;
    std::string Cell(int32_t col, int32_t row) const override;
    void SetCell(int32_t col, int32_t row, std::string_view text) override;
    void BeginUpdate() override;
    void EndUpdate() override;
    // The cell as shown.
    QString CellText(int32_t col, int32_t row) const;

    // The blocking chains the rows' SPIDs (column 1) are looked up in for their lead
    // blocker marks; null for none. Kept by the caller until replaced.
    void SetBlockingChains(const TBlockingChains* chains);

    // QAbstractTableModel: data rows only; the heading is the horizontal header.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // After every fill, whether or not the row count changed.
    void Filled();

private:
    void Publish();
    bool Padded(int column) const;

    int32_t Columns;
    const std::string& CellBytes(int32_t col, int32_t row) const;

    std::vector<std::string> Cells; // UTF-8, row-major, Rows x Columns, row 0 the heading
    int32_t Rows = 1;
    int32_t PublishedRows = 1;
    int UpdateDepth = 0;
    std::vector<int> Widths;
    std::vector<Qt::Alignment> Alignments;
    std::vector<bool> Whole;
    bool PadRightAligned = true;
    bool StateColumn = true;
    const TBlockingChains* Chains = nullptr;
};
