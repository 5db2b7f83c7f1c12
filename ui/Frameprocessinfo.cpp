#include "ui/Frameprocessinfo.h"

#include "engine/Connectionslot.h"
#include "engine/Processcommands.h"
#include "engine/Torvanethread.h"
#include "model/Torvaneprocessthreads.h"
#include "ui/Dialoglayout.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Tabrow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Design pixels, taken in the layout unit.
constexpr int TabWidth = 96;
constexpr int TabHeight = 24;
constexpr int TabBarHeight = 26;

QRect Scaled(int left, int top, int width, int height)
{
    return {LayoutPixels(left), LayoutPixels(top), LayoutPixels(width), LayoutPixels(height)};
}
constexpr int ThreadColumns = 6;

QString TabStyle(const char* picture)
{
    return QStringLiteral("QLabel { border-image: url(:/torvane/") + QLatin1String(picture) +
           QStringLiteral("); color: black; }");
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// The server's texts end their lines with CR LF; the memo wants plain line feeds.
QString MemoText(const std::string& text)
{
    QString shown = Text(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

} // namespace

TFrameProcessInfo::TFrameProcessInfo(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrameProcessInfoThreads"));
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
    setPalette(colours);

    BuildTabBar();

    PanelProcessInfoCommand = new QStackedWidget(this);
    PanelProcessInfoCommand->setObjectName(QStringLiteral("PanelProcessInfoCommand"));

    PanelThreads = new QWidget(PanelProcessInfoCommand);
    PanelThreads->setObjectName(QStringLiteral("PanelThreads"));
    ThreadModel = new TGridModel(ThreadColumns, this);
    // The ECID stays in view while the other columns scroll.
    ThreadPair = new TGridPair(ThreadModel, 1, 45, PanelThreads);
    ThreadPair->setObjectName(QStringLiteral("StringGridThreads"));
    auto* threadsLayout = new QVBoxLayout(PanelThreads);
    threadsLayout->setContentsMargins(0, 0, 0, 0);
    threadsLayout->addWidget(ThreadPair);
    PanelProcessInfoCommand->addWidget(PanelThreads);

    BuildCommandPage();
    PanelProcessInfoCommand->addWidget(PanelCommandText);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PanelProcessInfoTabbar);
    layout->addWidget(PanelProcessInfoCommand, 1);

    ShowPage(false);
}

void TFrameProcessInfo::BuildTabBar()
{
    auto* bar = new QFrame(this);
    bar->setObjectName(QStringLiteral("PanelProcessInfoTabbar"));
    bar->setFrameShape(QFrame::Box);
    bar->setFixedHeight(LayoutPixels(TabBarHeight));
    PanelProcessInfoTabbar = bar;

    // Back to front: the strip, the empty tab after the two real ones, the two tabs.
    ImageTabRight = new QLabel(bar);
    ImageTabRight->setObjectName(QStringLiteral("ImageTabRight"));
    ImageTabRight->setStyleSheet(TabStyle("tab-strip.svg"));
    ImageTabUp = new QLabel(bar);
    ImageTabUp->setObjectName(QStringLiteral("ImageTabUp"));
    ImageTabUp->setStyleSheet(TabStyle("tab-up.svg"));
    ImageTabUp->setGeometry(Scaled(191, 1, TabWidth, TabHeight));

    LabelTabThread = new QLabel(QStringLiteral("Threads"), bar);
    LabelTabThread->setObjectName(QStringLiteral("LabelTabThread"));
    LabelTabThread->setGeometry(Scaled(-1, 1, TabWidth, TabHeight));
    LabelTabCommand = new QLabel(QStringLiteral("Command"), bar);
    LabelTabCommand->setObjectName(QStringLiteral("LabelTabCommand"));
    LabelTabCommand->setGeometry(Scaled(95, 1, TabWidth, TabHeight));
    for (QLabel* tab : {LabelTabThread, LabelTabCommand}) {
        tab->setAlignment(Qt::AlignCenter);
        tab->setCursor(Qt::PointingHandCursor);
    }
    new TTabRow(
        {LabelTabThread, LabelTabCommand},
        [this](int tab) { tab == 0 ? LabelTabThreadClick() : LabelTabCommandClick(); }, this);
}

void TFrameProcessInfo::BuildCommandPage()
{
    PanelCommandText = new QWidget(PanelProcessInfoCommand);
    PanelCommandText->setObjectName(QStringLiteral("PanelCommandText"));

    StaticTextCommandInfo = new QLabel(QStringLiteral(" "), PanelCommandText);
    StaticTextCommandInfo->setObjectName(QStringLiteral("StaticTextCommandInfo"));
    StaticTextCommandInfo->setFixedHeight(LayoutPixels(17));
    StaticTextCommandInfo->setStyleSheet(QStringLiteral("QLabel { background: #808080; color: white; }"));

    MemoCommandText = new QPlainTextEdit(PanelCommandText);
    MemoCommandText->setObjectName(QStringLiteral("MemoCommandText"));
    MemoCommandText->setReadOnly(true);
    MemoCommandText->setLineWrapMode(QPlainTextEdit::NoWrap);
    MemoCommandText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoCommandText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    Panel1 = new QWidget(PanelCommandText);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(LayoutPixels(22));
    Panel1->setAutoFillBackground(true);
    QPalette grey = Panel1->palette();
    grey.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    grey.setColor(QPalette::WindowText, Qt::white);
    Panel1->setPalette(grey);

    // Laid out side by side from the left rather than at fixed places, so that the
    // captions do not run into each other in a font wider than the one they were
    // placed for.
    RadioButtonDBCC = new QRadioButton(QStringLiteral("DBCC (spid) INPUTBUFFER"), Panel1);
    RadioButtonDBCC->setObjectName(QStringLiteral("RadioButtonDBCC"));
    RadioButtonDBCC->setChecked(true);
    RadioButton1 = new QRadioButton(QStringLiteral("fn_get_sql()"), Panel1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    CheckBoxPauseRefresh = new QCheckBox(QStringLiteral("Pause Auto Refresh"), Panel1);
    CheckBoxPauseRefresh->setObjectName(QStringLiteral("CheckBoxPauseRefresh"));
    CheckBoxPauseRefresh->setMinimumWidth(LayoutPixels(140));
    auto* options = new QHBoxLayout(Panel1);
    options->setContentsMargins(3, 0, 3, 0);
    options->setSpacing(12);
    for (QWidget* option : {static_cast<QWidget*>(RadioButtonDBCC), static_cast<QWidget*>(RadioButton1),
                            static_cast<QWidget*>(CheckBoxPauseRefresh)}) {
        option->setPalette(grey);
        options->addWidget(option);
    }
    options->addStretch(1);
    // The SQL to paste into a query window, whatever part of it is selected.
    ButtonCopyCommandText = new QPushButton(QStringLiteral("Copy Command Text"), Panel1);
    ButtonCopyCommandText->setObjectName(QStringLiteral("ButtonCopyCommandText"));
    // It gives way in a narrow window rather than widening the window's least size.
    ButtonCopyCommandText->setMinimumWidth(1);
    options->addWidget(ButtonCopyCommandText);
    connect(ButtonCopyCommandText, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(MemoCommandText->toPlainText()); });
    // The source changes with a click (or a key): the new one loads at once, even
    // when paused. Only the button being checked reacts.
    connect(RadioButtonDBCC, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            LoadCommandText();
    });
    connect(RadioButton1, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked)
            LoadCommandText();
    });

    auto* layout = new QVBoxLayout(PanelCommandText);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(StaticTextCommandInfo);
    layout->addWidget(MemoCommandText, 1);
    layout->addWidget(Panel1);
}

void TFrameProcessInfo::SetupThreadGrid()
{
    // The right-aligned headings end in a blank of their own, which keeps them off the
    // right edge; their cells get no blank added.
    ThreadModel->SetStateColumn(false);
    ThreadModel->SetPadRightAligned(false);
    ThreadModel->SetColumns(
        {QStringLiteral("ECID "), QStringLiteral("CPU Usage "), QStringLiteral("WaitTime "),
         QStringLiteral("Last Wait Type"), QStringLiteral("Wait Resource"), QStringLiteral("Database")},
        {45, 90, 90, 125, 125, 125},
        {Qt::AlignRight, Qt::AlignRight, Qt::AlignRight, Qt::AlignLeft, Qt::AlignLeft, Qt::AlignLeft});
    ThreadPair->ApplyColumnWidths();
    ThreadPair->SetColumnsResizable(false);
}

void TFrameProcessInfo::SetConnection(TConnectionSlot* slot)
{
    Slot = slot;
    ++Generation;
    RequestOut = false;
    ReloadWanted = false;
}

void TFrameProcessInfo::ShowProcess(std::int32_t spid)
{
    FSpid = spid;
    RefreshCommandText();
    if (Slot && Slot->Threads()) {
        Slot->Threads()->FillThreadGrid(*ThreadModel, spid);
        ThreadPair->SetSelectedRow(
            std::clamp(ThreadPair->SelectedRow(), 1, std::max(1, ThreadModel->RowCount() - 1)));
    }
}

void TFrameProcessInfo::RefreshCommandText()
{
    if (FSpid > 0 && CommandPageShowing() && (!CheckBoxPauseRefresh->isChecked() || FSpid != LastSpid))
        LoadCommandText();
    LastSpid = FSpid;
}

void TFrameProcessInfo::LoadCommandText()
{
    if (!Slot || !Slot->Thread() || FSpid <= 0)
        return;
    if (RequestOut) {
        ReloadWanted = true;
        return;
    }
    SendCommandRequest();
}

void TFrameProcessInfo::SendCommandRequest()
{
    const std::int32_t spid = FSpid;
    const bool inputBuffer = RadioButtonDBCC->isChecked();
    const int generation = Generation;
    RequestOut = true;
    Slot->RunCommand<TCommandText>(
        [spid, inputBuffer](TTorvaneThread& thread) {
            TCommandText shown;
            if (inputBuffer) {
                shown.Text = thread.GetInputBuffer(spid, shown.Description);
            } else {
                std::string objectName, encrypted;
                std::int32_t stmtStart = 0, stmtEnd = 0;
                shown.Text = thread.GetStatementText(spid, objectName, encrypted, stmtStart, stmtEnd);
                shown.Description = StatementDescription(objectName, encrypted, stmtStart, stmtEnd);
            }
            return shown;
        },
        [frame = QPointer<TFrameProcessInfo>(this), spid, inputBuffer,
         generation](const TCommandResult<TCommandText>& result) {
            if (!frame || frame->Generation != generation)
                return;
            frame->RequestOut = false;
            // Shown only while it is still the answer to what the user looks at.
            if (result.Succeeded() && spid == frame->FSpid &&
                inputBuffer == frame->RadioButtonDBCC->isChecked()) {
                frame->StaticTextCommandInfo->setText(Text(result.Value->Description));
                frame->MemoCommandText->setPlainText(MemoText(result.Value->Text));
            }
            if (frame->ReloadWanted) {
                frame->ReloadWanted = false;
                frame->LoadCommandText();
            }
        });
}

void TFrameProcessInfo::LabelTabThreadClick()
{
    ShowPage(false);
}

void TFrameProcessInfo::LabelTabCommandClick()
{
    ShowPage(true);
    RefreshCommandText();
}

void TFrameProcessInfo::ShowPage(bool command)
{
    PanelProcessInfoCommand->setCurrentWidget(command ? PanelCommandText : PanelThreads);
    LabelTabCommand->setStyleSheet(TabStyle(command ? "tab-down.svg" : "tab-up.svg"));
    LabelTabThread->setStyleSheet(TabStyle(command ? "tab-up.svg" : "tab-down.svg"));
    for (QLabel* tab : {LabelTabThread, LabelTabCommand}) {
        QFont font = tab->font();
        font.setBold((tab == LabelTabCommand) == command);
        tab->setFont(font);
    }
}

bool TFrameProcessInfo::CommandPageShowing() const
{
    return PanelProcessInfoCommand->currentWidget() == PanelCommandText;
}

QString TFrameProcessInfo::CommandInfo() const
{
    return StaticTextCommandInfo->text();
}

QString TFrameProcessInfo::CommandText() const
{
    return MemoCommandText->toPlainText();
}

void TFrameProcessInfo::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const QRect strip = Scaled(191, 1, 0, TabHeight);
    ImageTabRight->setGeometry(strip.x(), strip.y(), std::max(0, PanelProcessInfoTabbar->width() - strip.x() - 1),
                               strip.height());
}
