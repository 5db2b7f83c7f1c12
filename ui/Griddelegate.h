#pragma once
// Paints the cells of the process grids: the selected row grey (#808080) with white
// text, other rows white on odd and light grey (#E9E9E9) on even grid row numbers
// with black text; one blank added on the aligned side unless the model says not;
// a state column's cell shows the process state's picture ("L" locked, "A" active,
// "I" idle, "P" paused).

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

    // The picture of a state code, or a null pixmap for any other text.
    static QPixmap StatePicture(const QString& code);

private:
    std::function<int()> SelectedRow;
};
