#include "ui/Dialoglayout.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

// The room a caption needs beside the control's own parts, and the room it has.
double NeededScale(const QWidget* control, int clientWidth)
{
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        if (text.isEmpty())
            return 1;
        // A label ends where its field begins, or at the dialog's edge.
        const int room = (label->buddy() ? label->buddy()->x() : clientWidth) - label->x() - 2;
        return double(metrics.horizontalAdvance(text)) / room;
    }
    if (const auto* check = qobject_cast<const QCheckBox*>(control))
        return double(check->sizeHint().width()) / check->width();
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        return double(metrics.horizontalAdvance(text) + 8) / button->width();
    }
    return 1;
}

} // namespace

double FitDialogToCaptions(QWidget* dialog, int clientWidth, int clientHeight)
{
    const QList<QWidget*> controls = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    double scale = 1;
    for (const QWidget* control : controls)
        scale = std::max(scale, NeededScale(control, clientWidth));
    if (scale > 1) {
        const auto scaled = [scale](int pixels) { return int(std::lround(pixels * scale)); };
        for (QWidget* control : controls) {
            const QRect r = control->geometry();
            control->setGeometry(scaled(r.x()), scaled(r.y()), scaled(r.width()), scaled(r.height()));
        }
        clientWidth = scaled(clientWidth);
        clientHeight = scaled(clientHeight);
    }
    dialog->setFixedSize(clientWidth, clientHeight);
    return scale;
}
