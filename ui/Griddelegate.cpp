#include "ui/Griddelegate.h"

#include "ui/Dialoglayout.h"
#include "ui/Gridmodel.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QIcon>
#include <QPainter>
#include <QToolTip>

namespace {

const QColor SelectedBackground(0x80, 0x80, 0x80);
const QColor EvenBackground(0xE9, 0xE9, 0xE9);

} // namespace

TGridDelegate::TGridDelegate(std::function<int()> selectedRow, QObject* parent)
    : QStyledItemDelegate(parent), SelectedRow(std::move(selectedRow))
{
}

QPixmap TGridDelegate::StatePicture(const QString& code)
{
    static const QIcon Locked(QStringLiteral(":/torvane/state-locked.svg"));
    static const QIcon Active(QStringLiteral(":/torvane/state-active.svg"));
    static const QIcon Idle(QStringLiteral(":/torvane/state-idle.svg"));
    static const QIcon Paused(QStringLiteral(":/torvane/state-paused.svg"));
    const QIcon* icon = nullptr;
    if (code == QLatin1String("L"))
        icon = &Locked;
    else if (code == QLatin1String("A"))
        icon = &Active;
    else if (code == QLatin1String("I"))
        icon = &Idle;
    else if (code == QLatin1String("P"))
        icon = &Paused;
    const int size = LayoutPixels(16);
    return icon ? icon->pixmap(QSize(size, size)) : QPixmap();
}

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    const int gridRow = index.row() + 1;
    const bool selected = gridRow == SelectedRow();
    const QColor background =
        selected ? SelectedBackground : (gridRow % 2 == 1 ? QColor(Qt::white) : EvenBackground);
    painter->save();
    painter->fillRect(option.rect, background);
    const QVariant stateCode = index.data(TGridModel::StateCodeRole);
    if (stateCode.isValid()) {
        const QPixmap picture = StatePicture(stateCode.toString());
        if (!picture.isNull())
            painter->drawPixmap(
                QRect(option.rect.topLeft(), picture.deviceIndependentSize().toSize()).intersected(option.rect),
                picture);
    } else {
        const QString text = ShownText(index);
        if (!text.isEmpty()) {
            const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            const bool right = alignment & Qt::AlignRight;
            painter->setClipRect(option.rect);
            painter->setFont(option.font);
            painter->setPen(selected ? Qt::white : Qt::black);
            painter->drawText(option.rect,
                              (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                              option.fontMetrics.elidedText(text, Qt::ElideRight, option.rect.width()));
        }
    }
    painter->restore();
}

QString TGridDelegate::ShownText(const QModelIndex& index)
{
    const QString text = index.data(Qt::DisplayRole).toString();
    const auto* model = qobject_cast<const TGridModel*>(index.model());
    return model ? model->ShownText(index.column(), text) : text;
}

QSize TGridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index).boundedTo(QSize(10000, LayoutPixels(16)));
}

bool TGridDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                              const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // Only a text that had to be cut has a tooltip: the whole text.
    const QString text = ShownText(index);
    if (!text.isEmpty() && option.fontMetrics.horizontalAdvance(text) > option.rect.width()) {
        QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view->viewport(),
                           option.rect);
        return true;
    }
    QToolTip::hideText();
    event->ignore();
    return true;
}
