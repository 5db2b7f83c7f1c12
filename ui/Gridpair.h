#pragma once
// Two table views over one grid model, side by side with a splitter between them: the
// left one shows the leading (frozen) columns, the right one the rest. They scroll
// vertically together and share one highlighted row, SelectedRow, a grid row number
// (1 = first data row, 0 or less = none) kept by the pair as the views' own integer.
//
// Both views always have the same viewport height (each shows a horizontal scroll bar
// when either needs one), so that a row stands at the same height in both at every
// scroll position. The columns of numbers, SPIDs and dates are widened to their
// heading and widest value after every fill; no column is narrower than its heading.

#include <QWidget>

class QSplitter;
class QTableView;
class TGridDelegate;
class TGridModel;

class TGridPair : public QWidget
{
    Q_OBJECT

public:
    // frozenColumns: how many leading columns the left view shows; leftWidth its
    // designed width (in design pixels; it grows with the frozen columns).
    TGridPair(TGridModel* model, int frozenColumns, int leftWidth, QWidget* parent = nullptr);

    TGridModel* Model() const { return GridModel; }
    QTableView* Left() const { return LeftView; }
    QTableView* Right() const { return RightView; }
    QSplitter* Splitter() const { return PairSplitter; }

    int SelectedRow() const { return Selected; }
    // Highlights the row and scrolls it vertically into view (the horizontal position
    // stays where the user left it); emits nothing.
    void SetSelectedRow(int gridRow);
    // Applies the model's column widths to both views (after SetColumns).
    void ApplyColumnWidths();
    // The row height of both views.
    static int RowHeight();
    // Whether the user may drag the column borders (default: yes).
    void SetColumnsResizable(bool resizable);
    // Repaints the rows of both views without touching the model.
    void Repaint();

Q_SIGNALS:
    // The user selected a row with the left mouse button or the keyboard in either
    // view, also when it is the row already highlighted.
    void RowSelected(int gridRow);
    // Right mouse button in either view: on a row, the row is highlighted first
    // (without RowSelected); gridRow is 0 on the heading and the empty area below the
    // rows.
    void RowContextMenu(int gridRow, const QPoint& globalPosition);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SetupView(QTableView* view);
    void ShowFrozenColumns();
    void CurrentRowChanged(int viewRow);
    void ScrollIntoView(int viewRow);
    // Widens the columns to their heading and the whole columns to their widest value.
    void FitColumns();
    // Shows the horizontal scroll bar in both views when either needs one.
    void MatchScrollBars();

    TGridModel* const GridModel;
    const int FrozenColumns;
    QSplitter* PairSplitter;
    QTableView* LeftView;
    QTableView* RightView;
    TGridDelegate* Delegate;
    int Selected = 1;
    bool Programmatic = false;
    // A left press has not yet announced its row (the current row did not change).
    bool PressPending = false;
};
