#include "ui/Chartview.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

// The smallest "nice" value (1, 2, 2.5 or 5 times a power of ten) at or above value.
double NiceCeiling(double value)
{
    if (value <= 0)
        return 1;
    const double magnitude = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (step * magnitude >= value)
            return step * magnitude;
    }
    return 10 * magnitude;
}

} // namespace

TChartView::TChartView(const QString& title, const QString& verticalTitle, QWidget* parent)
    : QWidget(parent), Title(title), VerticalTitle(verticalTitle)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TChartView::AddSeries(const QColor& color, bool steps, bool errorsOnly)
{
    Series.push_back({color, steps, errorsOnly, {}});
    return static_cast<int>(Series.size()) - 1;
}

void TChartView::SetSeriesValues(int series, const TValues& values)
{
    Series[static_cast<std::size_t>(series)].Values = values;
    update();
}

void TChartView::SetFixedMaximum(std::optional<double> maximum)
{
    FixedMaximum = maximum;
    update();
}

double TChartView::AxisMinimum() const
{
    double minimum = 0;
    for (const TSeries& series : Series)
        for (const std::int32_t value : series.Values)
            minimum = std::min<double>(minimum, value);
    return minimum;
}

double TChartView::AxisMaximum() const
{
    if (FixedMaximum)
        return *FixedMaximum;
    double maximum = 0;
    for (const TSeries& series : Series)
        for (const std::int32_t value : series.Values)
            maximum = std::max<double>(maximum, value);
    return NiceCeiling(std::max(maximum, 1.0));
}

void TChartView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    QLinearGradient background(area.topLeft(), area.bottomRight());
    background.setColorAt(0, QColor(0x80, 0x80, 0x80));
    background.setColorAt(1, Qt::black);
    painter.fillRect(area, background);

    QFont font = painter.font();
    const QFontMetrics metrics(font);
    const int lineHeight = metrics.height();
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, area.width(), lineHeight), Qt::AlignHCenter | Qt::AlignVCenter, Title);

    const double minimum = AxisMinimum();
    const double maximum = std::max(AxisMaximum(), minimum + 1);
    const QString maximumText = QString::number(maximum, 'g', 10);
    const int labelWidth =
        std::max(metrics.horizontalAdvance(maximumText), metrics.horizontalAdvance(QStringLiteral("0"))) + 4;
    // The top value's label is centred on the plot's top line: the plot starts half a
    // line below the title so that the two never overlap.
    const int plotTop = lineHeight + lineHeight / 2 + 4;
    const QRect plot(lineHeight + labelWidth + 2, plotTop, area.width() - (lineHeight + labelWidth + 2) - 4,
                     area.height() - plotTop - lineHeight - 4);
    if (plot.width() < 10 || plot.height() < 10)
        return;

    // Axis titles: vertical on the left, "Time" under the plot (no bottom labels).
    painter.save();
    painter.translate(0, plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRect(-plot.height() / 2, 0, plot.height(), lineHeight), Qt::AlignCenter, VerticalTitle);
    painter.restore();
    painter.drawText(QRect(plot.left(), plot.bottom() + 2, plot.width(), lineHeight),
                     Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Time"));

    // Value grid: five divisions with their labels.
    constexpr int Divisions = 5;
    for (int step = 0; step <= Divisions; ++step) {
        const double value = minimum + (maximum - minimum) * step / Divisions;
        const int y = plot.bottom() - static_cast<int>(std::lround(plot.height() * double(step) / Divisions));
        painter.setPen(QColor(0x55, 0x55, 0x55));
        painter.drawLine(plot.left(), y, plot.right(), y);
        painter.setPen(Qt::white);
        painter.drawText(QRect(lineHeight, y - lineHeight / 2, labelWidth, lineHeight),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(value, 'g', 10));
    }
    painter.setPen(QColor(0xA0, 0xA0, 0xA0));
    painter.drawRect(plot.adjusted(0, 0, -1, -1));

    painter.setClipRect(plot);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto x = [&](double index) { return plot.left() + (plot.width() - 1) * index / (PointCount - 1); };
    const auto y = [&](double value) {
        return plot.bottom() - (plot.height() - 1) * (value - minimum) / (maximum - minimum);
    };
    for (const TSeries& series : Series) {
        QPainterPath path;
        bool drawing = false;
        for (int i = 0; i < PointCount; ++i) {
            const double value = series.Values[static_cast<std::size_t>(i)];
            if (series.ErrorsOnly && value == 0) {
                drawing = false;
                continue;
            }
            const QPointF point(x(i), y(value));
            if (!drawing) {
                path.moveTo(point);
                drawing = true;
            } else if (series.Steps) {
                path.lineTo(point.x(), path.currentPosition().y());
                path.lineTo(point);
            } else {
                path.lineTo(point);
            }
        }
        painter.setPen(QPen(series.Color, 1.4));
        painter.drawPath(path);
        if (series.ErrorsOnly) {
            // A lone error point still shows.
            painter.setBrush(series.Color);
            for (int i = 0; i < PointCount; ++i)
                if (series.Values[static_cast<std::size_t>(i)] != 0)
                    painter.drawEllipse(QPointF(x(i), y(series.Values[static_cast<std::size_t>(i)])), 1.5,
                                        1.5);
            painter.setBrush(Qt::NoBrush);
        }
    }
}
