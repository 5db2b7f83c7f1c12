#include "ui/Gridpair.h"

#include "ui/Dialoglayout.h"
#include "ui/Griddelegate.h"
#include "ui/Gridmodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>

#include <algorithm>

namespace {

const char* const GridStyle = "QTableView { border: none; background: white; gridline-color: #C0C0C0; }"
                              "QHeaderView::section { background: black; color: white; border: none;"
                              " border-right: 1px solid #404040; padding: 0px; }";

} // namespace

TGridPair::TGridPair(TGridModel* model, int frozenColumns, int leftWidth, QWidget* parent)
    : QWidget(parent), GridModel(model), FrozenColumns(frozenColumns)
{
    PairSplitter = new QSplitter(Qt::Horizontal, this);
    PairSplitter->setHandleWidth(3);
    PairSplitter->setStyleSheet(QStringLiteral("QSplitter::handle { background: black; }"));
    PairSplitter->setChildrenCollapsible(false);
    LeftView = new QTableView(PairSplitter);
    RightView = new QTableView(PairSplitter);
    Delegate = new TGridDelegate([this] { return Selected; }, this);
    auto* selection = new QItemSelectionModel(model, this);
    for (QTableView* view : {LeftView, RightView}) {
        view->setModel(model);
        view->setSelectionModel(selection);
        SetupView(view);
    }
    LeftView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The left view shrinks to its columns (a table view would keep room for its
    // scroll bars), and its last column takes what room it has beyond them.
    LeftView->setMinimumWidth(1);
    LeftView->horizontalHeader()->setStretchLastSection(true);
    PairSplitter->setStretchFactor(0, 0);
    PairSplitter->setStretchFactor(1, 1);
    PairSplitter->setSizes({LayoutPixels(leftWidth), 10000});

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PairSplitter);

    connect(LeftView->verticalScrollBar(), &QScrollBar::valueChanged, RightView->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(RightView->verticalScrollBar(), &QScrollBar::valueChanged, LeftView->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(selection, &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        CurrentRowChanged(current.isValid() ? current.row() : -1);
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { ShowFrozenColumns(); });
    connect(model, &TGridModel::Filled, this, [this] { FitColumns(); });
    // Queued: the range changes while a view lays itself out, and a view does not lay
    // itself out again from inside that (its scroll range would stay the old one).
    for (QTableView* view : {LeftView, RightView})
        connect(view->horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { MatchScrollBars(); },
                Qt::QueuedConnection);
    ShowFrozenColumns();
}

void TGridPair::SetupView(QTableView* view)
{
    view->setItemDelegate(Delegate);
    view->setStyleSheet(QString::fromLatin1(GridStyle));
    view->setFrameShape(QFrame::NoFrame);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setCornerButtonEnabled(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(RowHeight());
    view->verticalHeader()->setMinimumSectionSize(RowHeight());
    view->horizontalHeader()->setSectionsMovable(false);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setFixedHeight(RowHeight() + 1);
    view->horizontalHeader()->setMinimumSectionSize(4);
    connect(view->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { GridModel->SetColumnWidth(column, width); });
    // The right button is the pair's own: it highlights a row without selecting it
    // (the view would otherwise make it the current row and announce it).
    view->setContextMenuPolicy(Qt::PreventContextMenu);
    view->horizontalHeader()->setContextMenuPolicy(Qt::PreventContextMenu);
    view->viewport()->installEventFilter(this);
    view->horizontalHeader()->viewport()->installEventFilter(this);
    connect(view, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
        if (PressPending && index.isValid()) {
            PressPending = false;
            Selected = index.row() + 1;
            Repaint();
            Q_EMIT RowSelected(Selected);
        }
    });
}

bool TGridPair::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    const auto* mouse = static_cast<QMouseEvent*>(event);
    QTableView* view = watched == LeftView->viewport()    ? LeftView
                       : watched == RightView->viewport() ? RightView
                                                          : nullptr;
    if (mouse->button() == Qt::LeftButton) {
        // The empty area below the rows selects nothing and keeps the highlight.
        if (view && !view->indexAt(mouse->position().toPoint()).isValid())
            return true;
        PressPending = view != nullptr;
        return QWidget::eventFilter(watched, event);
    }
    if (mouse->button() != Qt::RightButton)
        return QWidget::eventFilter(watched, event);
    int gridRow = 0;
    if (view) {
        const int viewRow = view->rowAt(mouse->position().toPoint().y());
        if (viewRow >= 0) {
            gridRow = viewRow + 1;
            SetSelectedRow(gridRow);
        }
    }
    auto* widget = static_cast<QWidget*>(watched);
    Q_EMIT RowContextMenu(gridRow, widget->mapToGlobal(mouse->position().toPoint()));
    return true;
}

void TGridPair::ShowFrozenColumns()
{
    for (int column = 0; column < GridModel->columnCount(); ++column) {
        LeftView->setColumnHidden(column, column >= FrozenColumns);
        RightView->setColumnHidden(column, column < FrozenColumns);
    }
    ApplyColumnWidths();
}

void TGridPair::ApplyColumnWidths()
{
    for (int column = 0; column < GridModel->columnCount(); ++column) {
        LeftView->setColumnWidth(column, GridModel->ColumnWidth(column));
        RightView->setColumnWidth(column, GridModel->ColumnWidth(column));
    }
    FitColumns();
}

int TGridPair::RowHeight()
{
    return LayoutPixels(16);
}

void TGridPair::FitColumns()
{
    const QFontMetrics headingMetrics = RightView->horizontalHeader()->fontMetrics();
    const QFontMetrics cellMetrics = RightView->fontMetrics();
    int frozenWidth = 0;
    for (int column = 0; column < GridModel->columnCount(); ++column) {
        int needed = headingMetrics.horizontalAdvance(GridModel->HeadingText(column)) + 4;
        if (GridModel->KeepsWhole(column) && GridModel->rowCount() > 0)
            for (const QString& text : GridModel->LongestTexts(column))
                needed = std::max(needed, cellMetrics.horizontalAdvance(GridModel->ShownText(column, text)) + 2);
        if (GridModel->ColumnWidth(column) < needed) {
            GridModel->SetColumnWidth(column, needed);
            (column < FrozenColumns ? LeftView : RightView)->setColumnWidth(column, needed);
        }
        if (column < FrozenColumns)
            frozenWidth += GridModel->ColumnWidth(column);
    }
    // The frozen columns stay in view whole. (The left view's last column fills its
    // width, so a left half wider than its columns is never widened further.)
    const QList<int> sizes = PairSplitter->sizes();
    if (sizes.size() == 2 && sizes[0] < frozenWidth)
        PairSplitter->setSizes({frozenWidth, std::max(1, sizes[0] + sizes[1] - frozenWidth)});
}

void TGridPair::MatchScrollBars()
{
    const bool needed = LeftView->horizontalScrollBar()->maximum() > 0 ||
                        RightView->horizontalScrollBar()->maximum() > 0;
    const auto policy = needed ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    for (QTableView* view : {LeftView, RightView})
        if (view->horizontalScrollBarPolicy() != policy)
            view->setHorizontalScrollBarPolicy(policy);
}

void TGridPair::SetColumnsResizable(bool resizable)
{
    const auto mode = resizable ? QHeaderView::Interactive : QHeaderView::Fixed;
    LeftView->horizontalHeader()->setSectionResizeMode(mode);
    RightView->horizontalHeader()->setSectionResizeMode(mode);
}

void TGridPair::SetSelectedRow(int gridRow)
{
    Selected = gridRow;
    const QModelIndex index =
        GridModel->index(gridRow - 1, FrozenColumns < GridModel->columnCount() ? FrozenColumns : 0);
    Programmatic = true;
    if (index.isValid()) {
        LeftView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                               QItemSelectionModel::Rows);
        ScrollIntoView(index.row());
    } else {
        LeftView->selectionModel()->clear();
    }
    Programmatic = false;
    Repaint();
}

void TGridPair::ScrollIntoView(int viewRow)
{
    // Rows are scrolled by item: the scroll bar's value is the top row.
    QScrollBar* bar = RightView->verticalScrollBar();
    const int visibleRows = std::max(1, RightView->viewport()->height() / RowHeight());
    if (viewRow < bar->value())
        bar->setValue(viewRow);
    else if (viewRow >= bar->value() + visibleRows)
        bar->setValue(viewRow - visibleRows + 1);
}

void TGridPair::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A pair refilled while hidden had no size to scroll in.
    if (Selected > 0 && Selected <= GridModel->rowCount())
        ScrollIntoView(Selected - 1);
}

void TGridPair::CurrentRowChanged(int viewRow)
{
    if (Programmatic || viewRow < 0)
        return;
    PressPending = false;
    Selected = viewRow + 1;
    Repaint();
    Q_EMIT RowSelected(Selected);
}

void TGridPair::Repaint()
{
    LeftView->viewport()->update();
    RightView->viewport()->update();
}
