#include "ui/Griddelegate.h"

#include "ui/Gridmodel.h"

#include <QIcon>
#include <QPainter>

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
    return icon ? icon->pixmap(QSize(16, 16)) : QPixmap();
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
            painter->drawPixmap(QRect(option.rect.topLeft(), QSize(16, 16)).intersected(option.rect),
                                picture);
    } else {
        const QString text = index.data(Qt::DisplayRole).toString();
        if (!text.isEmpty()) {
            const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            const bool right = alignment & Qt::AlignRight;
            const bool padded = index.data(TGridModel::PaddedRole).toBool();
            painter->setClipRect(option.rect);
            painter->setFont(option.font);
            painter->setPen(selected ? Qt::white : Qt::black);
            painter->drawText(option.rect,
                              (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop | Qt::TextSingleLine,
                              !padded ? text
                              : right ? QString(text + QLatin1Char(' '))
                                      : QString(QLatin1Char(' ') + text));
        }
    }
    painter->restore();
}

QSize TGridDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QStyledItemDelegate::sizeHint(option, index).boundedTo(QSize(10000, 16));
}
