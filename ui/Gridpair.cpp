#include "ui/Gridpair.h"

#include "ui/Griddelegate.h"
#include "ui/Gridmodel.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>

namespace {

constexpr int RowHeight = 16;

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
    PairSplitter->setStretchFactor(0, 0);
    PairSplitter->setStretchFactor(1, 1);
    PairSplitter->setSizes({leftWidth, 10000});
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
    view->verticalHeader()->setDefaultSectionSize(RowHeight);
    view->verticalHeader()->setMinimumSectionSize(RowHeight);
    view->horizontalHeader()->setSectionsMovable(false);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setFixedHeight(RowHeight + 1);
    view->horizontalHeader()->setMinimumSectionSize(4);
    connect(view->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { GridModel->SetColumnWidth(column, width); });
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& position) {
        const QModelIndex index = view->indexAt(position);
        const int gridRow = index.isValid() ? index.row() + 1 : 0;
        if (gridRow > 0)
            SetSelectedRow(gridRow);
        Q_EMIT RowContextMenu(gridRow, view->viewport()->mapToGlobal(position));
    });
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
        RightView->scrollTo(index);
    } else {
        LeftView->selectionModel()->clear();
    }
    Programmatic = false;
    Repaint();
}

void TGridPair::CurrentRowChanged(int viewRow)
{
    if (Programmatic || viewRow < 0)
        return;
    Selected = viewRow + 1;
    Repaint();
    Q_EMIT RowSelected(Selected);
}

void TGridPair::Repaint()
{
    LeftView->viewport()->update();
    RightView->viewport()->update();
}
