#include "ui/Frameservercharts.h"

#include "engine/Commonfuncs.h"
#include "engine/Connectionslot.h"
#include "engine/Torvaneserverperformance.h"
#include "engine/Torvanethread.h"
#include "ui/Chartview.h"
#include "ui/Dialoglayout.h"
#include "ui/Elidedlabel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using P = TTorvaneServerPerformance;

const QColor LightYellow(255, 255, 128);
const QColor LightGreen(128, 255, 128);
const QColor LightRed(255, 128, 128);
constexpr int ChartMargin = 11;
constexpr int LabelStrip = 23;

QLabel* ValueLabel(const QString& text, const QColor& color, Qt::Alignment alignment)
{
    auto* label = new QLabel(text);
    label->setAlignment(alignment | Qt::AlignVCenter);
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(color.name()));
    return label;
}

template <typename TLabel = QLabel> TLabel* InfoLabel(const QString& text, QWidget* parent)
{
    auto* label = new TLabel(parent);
    label->setText(text);
    label->setStyleSheet(QStringLiteral("color: #C0C0C0; background: transparent;"));
    return label;
}

QString DateTimeLabel(TDateTime value)
{
    return QString::fromStdString(DateTimeToText(value));
}

} // namespace

// The value labels under a chart: the first at the left edge, the last at the right,
// a middle one centred, each as wide as its text, in the frame's own font. When the
// texts do not fit side by side with a gap between them (a narrow window), the middle
// one moves to a second line, and when even the outer two do not fit, each takes a
// line of its own; the strip grows by those lines.
class TValueStrip : public QWidget
{
public:
    TValueStrip(std::vector<QLabel*> labels, QWidget* parent) : QWidget(parent), Labels(std::move(labels))
    {
        setAttribute(Qt::WA_TranslucentBackground);
        for (QLabel* label : Labels)
            label->setParent(this);
        setFixedHeight(LineHeight());
    }

    void FitLabels()
    {
        const QFontMetrics metrics(font());
        const int gap = metrics.horizontalAdvance(QStringLiteral("  "));
        const std::size_t count = Labels.size();
        std::vector<int> widths(count);
        for (std::size_t i = 0; i < count; ++i)
            widths[i] = metrics.horizontalAdvance(Labels[i]->text()) + 2;
        const auto fits = [&](std::initializer_list<std::size_t> shown) {
            int total = -gap;
            for (const std::size_t i : shown)
                total += widths[i] + gap;
            return total <= width();
        };
        // The line of each label.
        std::vector<int> line(count, 0);
        if (count == 2 && !fits({0, 1}))
            line[1] = 1;
        if (count == 3 && !fits({0, 1, 2})) {
            line[1] = 1;
            if (!fits({0, 2}))
                line[2] = 2;
        }
        const int lineHeight = LineHeight();
        const int lines = *std::max_element(line.begin(), line.end()) + 1;
        if (height() != lines * lineHeight)
            setFixedHeight(lines * lineHeight);
        for (std::size_t i = 0; i < count; ++i) {
            const int w = std::min(widths[i], width());
            int x = 0;
            if (count == 1 || (i == 1 && count == 3))
                x = (width() - w) / 2;
            else if (i + 1 == count)
                x = width() - w;
            Labels[i]->setGeometry(x, line[i] * lineHeight, w, lineHeight);
        }
    }
protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        FitLabels();
    }

private:
    int LineHeight() const { return std::max(LayoutPixels(LabelStrip), fontMetrics().height() + 4); }

    std::vector<QLabel*> Labels;
};

TFrameServerCharts::TFrameServerCharts(QWidget* parent) : QFrame(parent)
{
    setStyleSheet(QStringLiteral("TFrameServerCharts { background: black; }"));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);

    ChartResponse = new TChartView(QStringLiteral("Response Time"), QStringLiteral("Milliseconds"));
    SeriesResponse = ChartResponse->AddSeries(LightYellow, false);
    ChartSessions = new TChartView(QStringLiteral("Sessions/ Users"), QStringLiteral("Connections"));
    SeriesSessions = ChartSessions->AddSeries(LightYellow, true);
    SeriesUsers = ChartSessions->AddSeries(LightGreen, true);
    ChartCPU = new TChartView(QStringLiteral("CPU Busy %"), QStringLiteral("Processing %"));
    SeriesCPU = ChartCPU->AddSeries(LightYellow, false);
    ChartCPU->SetFixedMaximum(100);
    ChartNetwork = new TChartView(QStringLiteral("Network Traffic/ Sec"), QStringLiteral("Packets"));
    SeriesPacketsSent = ChartNetwork->AddSeries(LightYellow, true);
    SeriesPacketsReceived = ChartNetwork->AddSeries(LightGreen, true);
    SeriesPacketsErrored = ChartNetwork->AddSeries(LightRed, false, true);
    ChartPhysicalIO = new TChartView(QStringLiteral("Disk Access/ Sec"), QStringLiteral("IO"));
    SeriesPhysicalIORead = ChartPhysicalIO->AddSeries(LightYellow, true);
    SeriesPhysicalIOWritten = ChartPhysicalIO->AddSeries(LightGreen, true);
    SeriesPhysicalIOErrored = ChartPhysicalIO->AddSeries(LightRed, false, true);
    ChartResponse->SetFixedMaximum(100);
    ChartNetwork->SetFixedMaximum(100);
    ChartPhysicalIO->SetFixedMaximum(100);

    LabelResponse = ValueLabel(QStringLiteral("Response Time: 0"), LightYellow, Qt::AlignHCenter);
    LabelSessions = ValueLabel(QStringLiteral("    Sessions: 0"), LightYellow, Qt::AlignLeft);
    LabelUsers = ValueLabel(QStringLiteral("Users: 0    "), LightGreen, Qt::AlignRight);
    LabelCPU = ValueLabel(QStringLiteral("CPU Busy %: 0"), LightYellow, Qt::AlignHCenter);
    LabelPacketsSent = ValueLabel(QStringLiteral("    Sent: 0"), LightYellow, Qt::AlignLeft);
    LabelPacketsRecieved = ValueLabel(QStringLiteral("Recieved: 0"), LightGreen, Qt::AlignHCenter);
    LabelPacketsErrored = ValueLabel(QStringLiteral("Errored: 0    "), LightRed, Qt::AlignRight);
    LabelPhysicalIORead = ValueLabel(QStringLiteral("    Read: 0"), LightYellow, Qt::AlignLeft);
    LabelPhysicalIOWritten = ValueLabel(QStringLiteral("Written: 0"), LightGreen, Qt::AlignHCenter);
    LabelPhysicalIOErrored = ValueLabel(QStringLiteral("Errored: 0    "), LightRed, Qt::AlignRight);

    PanelChartResponse = MakeChartPanel(ChartResponse, {LabelResponse});
    PanelChartSessions = MakeChartPanel(ChartSessions, {LabelSessions, LabelUsers});
    PanelChartCPU = MakeChartPanel(ChartCPU, {LabelCPU});
    PanelChartNetwork =
        MakeChartPanel(ChartNetwork, {LabelPacketsSent, LabelPacketsRecieved, LabelPacketsErrored});
    PanelChartPhysicalIO = MakeChartPanel(
        ChartPhysicalIO, {LabelPhysicalIORead, LabelPhysicalIOWritten, LabelPhysicalIOErrored});

    PanelServerInfo = new QFrame(this);
    PanelServerInfo->setFrameShape(QFrame::Box);
    PanelServerInfo->setStyleSheet(QStringLiteral("QFrame { background: black; border: 1px solid #505050; }"
                                                  "QLabel { border: none; }"));
    auto* info = new QVBoxLayout(PanelServerInfo);
    info->setContentsMargins(10, 8, 10, 8);
    info->setSpacing(2);
    QFont bold = font();
    bold.setBold(true);
    info->addWidget(InfoLabel(QStringLiteral("Server Name:"), PanelServerInfo));
    // A long name ends in "…" rather than widening the panel.
    LabelServerName = InfoLabel<TElidedLabel>(QString(), PanelServerInfo);
    LabelServerName->setFont(bold);
    info->addWidget(LabelServerName);
    info->addSpacing(6);
    info->addWidget(InfoLabel(QStringLiteral("Server Startup Time:"), PanelServerInfo));
    LabelServerStartTime = InfoLabel(QString(), PanelServerInfo);
    LabelServerStartTime->setFont(bold);
    info->addWidget(LabelServerStartTime);
    info->addSpacing(6);
    info->addWidget(InfoLabel(QStringLiteral("Current Server Time:"), PanelServerInfo));
    LabelCurrentServerTime = InfoLabel(QString(), PanelServerInfo);
    LabelCurrentServerTime->setFont(bold);
    info->addWidget(LabelCurrentServerTime);
    info->addSpacing(6);
    // The mark and the button one above the other: side by side they do not fit a
    // third of a small window.
    auto* reconnectRow = new QVBoxLayout;
    reconnectRow->setSpacing(4);
    LabelDisconnected = new QLabel(QStringLiteral("Disconnected"), PanelServerInfo);
    LabelDisconnected->setStyleSheet(QStringLiteral("background: #FF0000; color: white; padding: 2px 6px;"));
    LabelDisconnected->setFont(bold);
    LabelDisconnected->hide();
    Button1 = new QPushButton(QStringLiteral("Attempt Reconnect"), PanelServerInfo);
    Button1->setStyleSheet(QString());
    Button1->hide();
    reconnectRow->addWidget(LabelDisconnected, 0, Qt::AlignLeft);
    reconnectRow->addWidget(Button1, 0, Qt::AlignLeft);
    info->addLayout(reconnectRow);
    LabelReconnecting = InfoLabel(QStringLiteral("Trying to reconnect..."), PanelServerInfo);
    LabelReconnecting->hide();
    info->addWidget(LabelReconnecting);
    info->addStretch();
    LabelServerRunningSince = InfoLabel(QStringLiteral("Server Running Since:"), PanelServerInfo);
    LabelServerRunningSince->setWordWrap(true);
    info->addWidget(LabelServerRunningSince);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

QFrame* TFrameServerCharts::MakeChartPanel(TChartView* chart, const std::vector<QLabel*>& labels)
{
    auto* panel = new QFrame(this);
    panel->setStyleSheet(QStringLiteral("QFrame { background: black; border: 1px solid #505050; }"
                                        "QLabel { border: none; }"));
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(LayoutPixels(ChartMargin), LayoutPixels(ChartMargin), LayoutPixels(ChartMargin), 0);
    layout->setSpacing(0);
    chart->setParent(panel);
    layout->addWidget(chart, 1);
    auto* strip = new TValueStrip(labels, panel);
    Strips.push_back(strip);
    layout->addWidget(strip);
    return panel;
}

void TFrameServerCharts::AttachServer(const QString& serverName, TConnectionSlot* slot)
{
    Slot = slot;
    LabelServerName->setText(serverName);
}

void TFrameServerCharts::RefreshView()
{
    if (!Slot || !Slot->InUse())
        return;
    UpdateCharts(*Slot->ServerPerformance());
    const TTorvaneThread& thread = *Slot->Thread();
    LabelServerRunningSince->setText(QString::fromStdString(thread.GetRunningTimeText()));
    LabelServerStartTime->setText(DateTimeLabel(thread.ServerStartTime));
    LabelCurrentServerTime->setText(DateTimeLabel(thread.ServerTime));
}

void TFrameServerCharts::UpdateCharts(const TTorvaneServerPerformance& performance)
{
    const bool disconnected = performance.Disconnected;
    const bool reconnecting = Slot && Slot->Reconnecting();
    LabelDisconnected->setVisible(disconnected);
    Button1->setVisible(disconnected);
    Button1->setEnabled(!reconnecting);
    LabelReconnecting->setVisible(disconnected && reconnecting);

    // Fixed 0 to 100 until a value passes 99, then automatic.
    const auto axisRule = [&](TChartView* chart, std::initializer_list<int> series) {
        std::int32_t maximum = 0;
        for (const int index : series)
            maximum = std::max(maximum, performance.GetSeriesMaximum(index));
        chart->SetFixedMaximum(maximum > 99 ? std::nullopt : std::optional<double>(100));
    };
    axisRule(ChartResponse, {P::SeriesResponse});
    axisRule(ChartPhysicalIO, {P::SeriesDiskReads, P::SeriesDiskWrites, P::SeriesDiskErrors});
    axisRule(ChartNetwork, {P::SeriesPacketsSent, P::SeriesPacketsReceived, P::SeriesPacketErrors});

    const auto& history = performance.History();
    ChartResponse->SetSeriesValues(SeriesResponse, history[P::SeriesResponse]);
    ChartSessions->SetSeriesValues(SeriesSessions, history[P::SeriesSessions]);
    ChartSessions->SetSeriesValues(SeriesUsers, history[P::SeriesUsers]);
    ChartCPU->SetSeriesValues(SeriesCPU, history[P::SeriesCpuBusy]);
    ChartNetwork->SetSeriesValues(SeriesPacketsSent, history[P::SeriesPacketsSent]);
    ChartNetwork->SetSeriesValues(SeriesPacketsReceived, history[P::SeriesPacketsReceived]);
    ChartNetwork->SetSeriesValues(SeriesPacketsErrored, history[P::SeriesPacketErrors]);
    ChartPhysicalIO->SetSeriesValues(SeriesPhysicalIORead, history[P::SeriesDiskReads]);
    ChartPhysicalIO->SetSeriesValues(SeriesPhysicalIOWritten, history[P::SeriesDiskWrites]);
    ChartPhysicalIO->SetSeriesValues(SeriesPhysicalIOErrored, history[P::SeriesDiskErrors]);

    const auto newest = [&](int series) {
        return QString::number(history[static_cast<std::size_t>(series)][P::HistoryLength - 1]);
    };
    LabelResponse->setText(QStringLiteral("Response Time: ") + newest(P::SeriesResponse));
    LabelCPU->setText(QStringLiteral("CPU Busy: ") + newest(P::SeriesCpuBusy) + QStringLiteral("%"));
    LabelPacketsSent->setText(QStringLiteral("    Sent: ") + newest(P::SeriesPacketsSent));
    LabelPacketsRecieved->setText(QStringLiteral("Received: ") + newest(P::SeriesPacketsReceived));
    LabelPacketsErrored->setText(QStringLiteral("Errored: ") + newest(P::SeriesPacketErrors) +
                                 QStringLiteral("    "));
    LabelPhysicalIORead->setText(QStringLiteral("    Read: ") + newest(P::SeriesDiskReads));
    LabelPhysicalIOWritten->setText(QStringLiteral("Written: ") + newest(P::SeriesDiskWrites));
    LabelPhysicalIOErrored->setText(QStringLiteral("Errored: ") + newest(P::SeriesDiskErrors) +
                                    QStringLiteral("    "));
    LabelSessions->setText(QStringLiteral("    Sessions: ") + newest(P::SeriesSessions));
    LabelUsers->setText(QStringLiteral("Users: ") + newest(P::SeriesUsers) + QStringLiteral("    "));
    for (TValueStrip* strip : Strips)
        strip->FitLabels();
}

void TFrameServerCharts::Button1Click()
{
    if (!Slot)
        return;
    TConnectionSlot* const slot = Slot;
    slot->Reconnect([this, slot](bool reconnected) {
        if (reconnected && slot == Slot) {
            Button1->hide();
            LabelDisconnected->hide();
        }
        if (slot == Slot) {
            Button1->setEnabled(true);
            LabelReconnecting->hide();
        }
    });
    if (Slot->Reconnecting()) {
        Button1->setEnabled(false);
        LabelReconnecting->show();
    }
}

void TFrameServerCharts::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    FrameResize();
}

void TFrameServerCharts::FrameResize()
{
    const int w = width();
    const int h = height();
    const int third = w / 3;
    const int half = h / 2;
    PanelChartResponse->setGeometry(0, 0, third + 1, half);
    PanelChartSessions->setGeometry(third - 1, 0, third + 2, half);
    const int cpuLeft = PanelChartSessions->geometry().right() + 1 - 1;
    PanelChartCPU->setGeometry(cpuLeft, 0, w - cpuLeft, half);
    const int bottomTop = PanelChartResponse->height() - 1;
    PanelChartNetwork->setGeometry(0, bottomTop, PanelChartResponse->width(), h - bottomTop);
    PanelServerInfo->setGeometry(PanelChartSessions->x(), bottomTop, PanelChartSessions->width(),
                                 h - bottomTop);
    PanelChartPhysicalIO->setGeometry(cpuLeft, bottomTop, PanelChartCPU->width(), h - bottomTop);
}
