#pragma once
// Paints the cells of the process grids: the selected row grey (#808080) with white
// text, other rows white on odd and light grey (#E9E9E9) on even grid row numbers
// with black text; one blank added on the aligned side unless the model says not;
// a state column's cell shows the process state's picture ("L" locked, "A" active,
// "I" idle, "P" paused). A text wider than its cell ends in "…" and shows whole as
// the cell's tooltip (the views widen the columns of numbers, so only free text is
// ever cut). A lead blocker's row (TGridModel::LeadBlockerRole) has a background of its
// own (#FFD59E), its own picture in the state column and, beside its SPID, "+" and the
// number of sessions waiting behind it in a small bold font.

#include <QStyledItemDelegate>

#include <functional>

class TGridDelegate : public QStyledItemDelegate
{
public:
    // selectedRow gives the highlighted grid row (1 = the first data row).
    TGridDelegate(std::function<int()> selectedRow, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The text as drawn in a cell of the index's column (with its blank), before eliding.
    static QString ShownText(const QModelIndex& index);

    // The picture of a state code, or a null pixmap for any other text.
    static QPixmap StatePicture(const QString& code);
    static QPixmap LeadBlockerPicture();

private:
    std::function<int()> SelectedRow;
};
