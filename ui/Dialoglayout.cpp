#include "ui/Dialoglayout.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace {

// The design's font averages about 5 pixels over a mix of lower case, capitals and
// digits as the windows' texts have them.
constexpr double DesignCharacterPixels = 5.0;
const QString Sample = QStringLiteral("Server Processes CPU Usage 0123456789 abcdefghijklmnopqrstuvwxyz");

// The room a caption needs beside the control's own parts, and the room it has.
double NeededScale(const QWidget* control, int clientWidth)
{
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const QString text = QString(label->text()).remove(QLatin1Char('&'));
        if (text.isEmpty() || label->wordWrap() || label->textFormat() == Qt::RichText ||
            (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text)))
            return 1;
        // A label ends where its field begins, or at the dialog's edge.
        const int room = (label->buddy() ? label->buddy()->x() : clientWidth) - label->x() - 2;
        return room > 0 ? double(metrics.horizontalAdvance(text)) / room : 1;
    }
    if (const auto* check = qobject_cast<const QCheckBox*>(control))
        return double(check->sizeHint().width()) / std::max(1, check->width());
    if (const auto* radio = qobject_cast<const QRadioButton*>(control))
        return double(radio->sizeHint().width()) / std::max(1, radio->width());
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        return double(metrics.horizontalAdvance(text) + 8) / std::max(1, button->width());
    }
    return 1;
}

// The controls placed in pixels: the dialog's own and those of its group boxes (a
// widget with a layout places its children itself).
void PlacedControls(QWidget* parent, QList<QWidget*>& controls, QList<int>& roomWidths, int room)
{
    for (QWidget* control : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (control->isWindow())
            continue;
        controls.push_back(control);
        roomWidths.push_back(room);
        if (qobject_cast<QGroupBox*>(control) && !control->layout())
            PlacedControls(control, controls, roomWidths, control->width());
    }
}

} // namespace

QFont DesignFont()
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSize(8);
    return font;
}

double LayoutScale(const QFont& font)
{
    const double perCharacter = QFontMetricsF(font).horizontalAdvance(Sample) / Sample.size();
    // In steps of 1/16, so that sizes round the same way everywhere.
    return std::max(1.0, std::round(perCharacter / DesignCharacterPixels * 16) / 16);
}

double LayoutScale()
{
    return LayoutScale(DesignFont());
}

int LayoutPixels(int designed, double scale)
{
    return int(std::lround(designed * scale));
}

int LayoutPixels(int designed)
{
    return LayoutPixels(designed, LayoutScale());
}

double FitDialogToCaptions(QWidget* dialog, int clientWidth, int clientHeight)
{
    QList<QWidget*> controls;
    QList<int> rooms;
    PlacedControls(dialog, controls, rooms, clientWidth);
    double scale = LayoutScale(dialog->font());
    for (qsizetype i = 0; i < controls.size(); ++i) {
        // The caption's need at the unit's size: its room grows with the unit.
        scale = std::max(scale, NeededScale(controls[i], rooms[i]));
    }
    if (scale > 1) {
        const auto scaled = [scale](int pixels) { return LayoutPixels(pixels, scale); };
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

void SetFixedBackground(QWidget* widget, const QColor& background)
{
    QPalette colours = widget->palette();
    colours.setColor(QPalette::Window, background);
    colours.setColor(QPalette::WindowText, background.lightness() >= 128 ? Qt::black : Qt::white);
    widget->setPalette(colours);
    widget->setAutoFillBackground(true);
}
