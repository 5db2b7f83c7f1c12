#include "ui/Griddelegate.h"

#include "ui/Dialoglayout.h"
#include "ui/Gridmodel.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QIcon>
#include <QPainter>
#include <QToolTip>

namespace {

const QColor SelectedBackground(0x80, 0x80, 0x80);
const QColor EvenBackground(0xE9, 0xE9, 0xE9);
// A lead blocker's row stands out from the white and grey rows around it.
const QColor LeadBlockerBackground(0xFF, 0xD5, 0x9E);
const QColor LeadBlockerCount(0x8A, 0x3A, 0x00);

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

QPixmap TGridDelegate::LeadBlockerPicture()
{
    static const QIcon LeadBlocker(QStringLiteral(":/torvane/state-leadblocker.svg"));
    const int size = LayoutPixels(16);
    return LeadBlocker.pixmap(QSize(size, size));
}

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    const int gridRow = index.row() + 1;
    const bool selected = gridRow == SelectedRow();
    const QVariant lead = index.data(TGridModel::LeadBlockerRole);
    const QColor background = selected           ? SelectedBackground
                              : lead.isValid()   ? LeadBlockerBackground
                              : gridRow % 2 == 1 ? QColor(Qt::white)
                                                 : EvenBackground;
    painter->save();
    painter->fillRect(option.rect, background);
    const QVariant stateCode = index.data(TGridModel::StateCodeRole);
    if (stateCode.isValid()) {
        const QPixmap picture = lead.isValid() ? LeadBlockerPicture() : StatePicture(stateCode.toString());
        if (!picture.isNull())
            painter->drawPixmap(
                QRect(option.rect.topLeft(), picture.deviceIndependentSize().toSize()).intersected(option.rect),
                picture);
    } else {
        const QString text = ShownText(index);
        if (!text.isEmpty()) {
            const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
            const bool right = alignment & Qt::AlignRight;
            const QString shown = option.fontMetrics.elidedText(text, Qt::ElideRight, option.rect.width());
            painter->setClipRect(option.rect);
            painter->setFont(option.font);
            painter->setPen(selected ? Qt::white : Qt::black);
            painter->drawText(option.rect,
                              (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                              shown);
            // A lead blocker's SPID has the sessions waiting behind it beside it, small
            // enough for the SPID column: after it, or before it when it is right-aligned.
            if (lead.isValid() && index.column() == 1) {
                QFont small = option.font;
                small.setBold(true);
                small.setPointSizeF(option.font.pointSizeF() * 0.75);
                const QString count = QStringLiteral("+%1").arg(lead.toPoint().y());
                const int spidWidth = option.fontMetrics.horizontalAdvance(shown);
                QRect beside = option.rect;
                if (right)
                    beside.setRight(beside.right() - spidWidth);
                else
                    beside.setLeft(beside.left() + spidWidth);
                painter->setFont(small);
                painter->setPen(selected ? QColor(Qt::white) : LeadBlockerCount);
                painter->drawText(beside,
                                  (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                                  count);
            }
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
