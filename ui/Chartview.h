#pragma once
// A small line chart of the project's own, for the server charts: 120 points per
// series at x = 0..119 (the newest at the right), a grey-to-black gradient, white
// titles and axis texts, lines or staircases, and error series drawn only over the
// runs of points that are not zero. Everything is clipped to the plot area.

#include <QColor>
#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class TChartView : public QWidget
{
public:
    static constexpr int PointCount = 120;
    using TValues = std::array<std::int32_t, PointCount>;

    TChartView(const QString& title, const QString& verticalTitle, QWidget* parent = nullptr);

    // Steps: drawn as a staircase. ErrorsOnly: only the points that are not zero are drawn.
    int AddSeries(const QColor& color, bool steps, bool errorsOnly = false);
    // All 120 points of a series at once.
    void SetSeriesValues(int series, const TValues& values);
    const TValues& SeriesValues(int series) const { return Series[static_cast<std::size_t>(series)].Values; }

    // The vertical axis: a fixed maximum, or automatic (nullopt) from the values.
    void SetFixedMaximum(std::optional<double> maximum);
    bool AutomaticMaximum() const { return !FixedMaximum.has_value(); }
    // The axis range as drawn.
    double AxisMinimum() const;
    double AxisMaximum() const;

    QSize sizeHint() const override { return {220, 160}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct TSeries
    {
        QColor Color;
        bool Steps = false;
        bool ErrorsOnly = false;
        TValues Values{};
    };

    const QString Title;
    const QString VerticalTitle;
    std::vector<TSeries> Series;
    std::optional<double> FixedMaximum;
};
