// The process grids as a reader sees them: the two halves of every frozen-column pair
// stay on the same rows wherever they are scrolled and however large the frame (and
// keep their widths across refills), a
// number wider than its column widens the column instead of losing digits, and a free
// text too long for its column ends in "…" and shows whole as the cell's tooltip.

#include "ui/Frameallprocesses.h"
#include "ui/Frameprocessinfo.h"
#include "ui/Framesessionmonitor.h"
#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QTableView>
#include <QToolTip>
#include <QtTest>

#include <memory>

namespace {

enum TPairKind
{
    AllProcesses,
    UsersSummary,
    UsersDetail,
    DatabasesSummary,
    DatabasesDetail,
    Threads,
};

// One of the frames that hold a pair, built as the window builds it.
struct TFramedPair
{
    explicit TFramedPair(TPairKind kind)
    {
        switch (kind) {
        case AllProcesses: {
            auto* frame = new TFrameAllProcesses;
            Pair = frame->ProcessGridPair();
            Frame.reset(frame);
            break;
        }
        case UsersSummary:
        case UsersDetail:
        case DatabasesSummary:
        case DatabasesDetail: {
            auto* frame = new TFrameSessionMonitor;
            if (kind == UsersSummary || kind == UsersDetail)
                frame->SetupUsersMode();
            else
                frame->SetupDatabasesMode();
            Pair = kind == UsersSummary || kind == DatabasesSummary ? frame->SummaryGridPair()
                                                                    : frame->DetailGridPair();
            Frame.reset(frame);
            break;
        }
        case Threads: {
            auto* frame = new TFrameProcessInfo;
            frame->SetupThreadGrid();
            Pair = frame->ThreadGridPair();
            Frame.reset(frame);
            break;
        }
        }
    }

    TGridModel& Model() const { return *Pair->Model(); }

    // Rows of texts long enough that the right half needs its horizontal scroll bar.
    void Fill(int rows)
    {
        TGridModel& model = Model();
        model.BeginUpdate();
        model.SetRowCount(rows + 1);
        for (int row = 1; row <= rows; ++row)
            for (int col = 0; col < model.ColCount(); ++col)
                model.SetCell(col, row, col == 0 ? std::string("A") : std::to_string(row * 7 + col));
        model.EndUpdate();
    }

    std::unique_ptr<QWidget> Frame;
    TGridPair* Pair = nullptr;
};

// Every row the left half shows stands at the same height in the right half.
void VerifySameRows(const TGridPair& pair)
{
    QTableView* left = pair.Left();
    QTableView* right = pair.Right();
    QCOMPARE(left->viewport()->height(), right->viewport()->height());
    QCOMPARE(left->verticalScrollBar()->value(), right->verticalScrollBar()->value());
    for (int y = 0; y < right->viewport()->height(); y += 3) {
        QCOMPARE(left->rowAt(y), right->rowAt(y));
    }
    const int lastRow = right->model()->rowCount() - 1;
    QCOMPARE(left->rowViewportPosition(lastRow), right->rowViewportPosition(lastRow));
}

} // namespace

class TestGridPair : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void halvesStayOnTheSameRows_data();
    void halvesStayOnTheSameRows();
    void numberWiderThanItsColumn_data();
    void numberWiderThanItsColumn();
    void longTextEndsInEllipsisWithTooltip();
    void clickBelowTheRowsKeepsTheHighlight();
};

void TestGridPair::halvesStayOnTheSameRows_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("all processes") << int(AllProcesses);
    QTest::newRow("users summary") << int(UsersSummary);
    QTest::newRow("users detail") << int(UsersDetail);
    QTest::newRow("databases summary") << int(DatabasesSummary);
    QTest::newRow("databases detail") << int(DatabasesDetail);
    QTest::newRow("threads") << int(Threads);
}

void TestGridPair::halvesStayOnTheSameRows()
{
    QFETCH(int, kind);
    TFramedPair framed(static_cast<TPairKind>(kind));
    framed.Frame->resize(420, 700);
    framed.Frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(framed.Frame.get()));
    framed.Fill(300);
    QApplication::processEvents();
    const TGridPair& pair = *framed.Pair;
    // The right half scrolls sideways, so it has the scroll bar the left would lack.
    QVERIFY(pair.Right()->horizontalScrollBar()->maximum() > 0);
    // Refills leave the halves as wide as they were.
    const int leftWidth = pair.Left()->width();
    for (int refill = 0; refill < 3; ++refill) {
        framed.Fill(300);
        QApplication::processEvents();
    }
    QCOMPARE(pair.Left()->width(), leftWidth);

    for (const QSize size : {QSize(420, 700), QSize(380, 450), QSize(900, 520)}) {
        framed.Frame->resize(size);
        QApplication::processEvents();
        for (QScrollBar* bar : {pair.Right()->verticalScrollBar(), pair.Left()->verticalScrollBar()}) {
            // The bottom, the top and a row between, driven from either half.
            for (const int value : {bar->maximum(), 0, bar->maximum() / 2}) {
                bar->setValue(value);
                QApplication::processEvents();
                VerifySameRows(pair);
            }
        }
        pair.Right()->horizontalScrollBar()->setValue(pair.Right()->horizontalScrollBar()->maximum());
        pair.Right()->verticalScrollBar()->setValue(pair.Right()->verticalScrollBar()->maximum());
        QApplication::processEvents();
        VerifySameRows(pair);
    }
}

void TestGridPair::numberWiderThanItsColumn_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("value");
    // The counters of All Processes, whose columns the user cannot widen.
    QTest::newRow("cpu") << int(AllProcesses) << 9 << "2147483647 (2147483647)";
    QTest::newRow("physical io") << int(AllProcesses) << 11 << "12345678901 (12345678)";
    // A SPID in the frozen half, and a date and time.
    QTest::newRow("spid") << int(AllProcesses) << 1 << "3276712345";
    QTest::newRow("login time") << int(AllProcesses) << 7 << "11 September 2026 10:23:45";
    QTest::newRow("summary memory") << int(UsersSummary) << 6 << "98765432109876";
    QTest::newRow("thread cpu") << int(Threads) << 1 << "123456789012345678901";
}

void TestGridPair::numberWiderThanItsColumn()
{
    QFETCH(int, kind);
    QFETCH(int, column);
    QFETCH(QString, value);
    TFramedPair framed(static_cast<TPairKind>(kind));
    framed.Frame->resize(800, 500);
    framed.Frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(framed.Frame.get()));
    TGridModel& model = framed.Model();
    const int before = model.ColumnWidth(column);
    framed.Fill(5);
    model.SetCell(column, 3, value.toStdString());
    QApplication::processEvents();

    QTableView* view = column < framed.Pair->Left()->model()->columnCount() &&
                               !framed.Pair->Left()->isColumnHidden(column)
                           ? framed.Pair->Left()
                           : framed.Pair->Right();
    const int needed = view->fontMetrics().horizontalAdvance(model.ShownText(column, value));
    QVERIFY2(before < needed, "the value must be wider than the column was");
    QVERIFY2(view->columnWidth(column) >= needed, qPrintable(QString::number(view->columnWidth(column))));
    QCOMPARE(model.ColumnWidth(column), view->columnWidth(column));
    // Every heading is whole too.
    for (int col = 1; col < model.ColCount(); ++col) {
        const QTableView* shown = framed.Pair->Left()->isColumnHidden(col) ? framed.Pair->Right()
                                                                           : framed.Pair->Left();
        QVERIFY2(shown->columnWidth(col) >=
                     shown->horizontalHeader()->fontMetrics().horizontalAdvance(model.HeadingText(col)),
                 qPrintable(model.HeadingText(col)));
    }
    // A frozen column stays in view whole.
    if (view == framed.Pair->Left()) {
        int frozen = 0;
        for (int col = 0; col < model.ColCount(); ++col)
            frozen += framed.Pair->Left()->isColumnHidden(col) ? 0 : framed.Pair->Left()->columnWidth(col);
        QVERIFY(framed.Pair->Left()->viewport()->width() >= frozen);
    }
}

void TestGridPair::longTextEndsInEllipsisWithTooltip()
{
    TFramedPair framed(AllProcesses);
    framed.Frame->resize(800, 500);
    framed.Frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(framed.Frame.get()));
    framed.Fill(3);
    const QString program = QStringLiteral("Microsoft SQL Server Management Studio - Transact-SQL IntelliSense");
    constexpr int ProgramColumn = 5;
    TGridModel& model = framed.Model();
    model.SetCell(ProgramColumn, 2, program.toStdString());
    QApplication::processEvents();
    QTableView* view = framed.Pair->Right();
    // Free text keeps its column's width: it is cut, not the layout.
    QVERIFY(view->columnWidth(ProgramColumn) < view->fontMetrics().horizontalAdvance(program));

    const QModelIndex cut = model.index(1, ProgramColumn);
    view->scrollTo(cut);
    const QPoint inside = view->visualRect(cut).center();
    QHelpEvent help(QEvent::ToolTip, inside, view->viewport()->mapToGlobal(inside));
    QApplication::sendEvent(view->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), program);

    // A text that fits has no tooltip.
    QToolTip::hideText();
    const QModelIndex whole = model.index(0, ProgramColumn);
    const QPoint fits = view->visualRect(whole).center();
    QHelpEvent quiet(QEvent::ToolTip, fits, view->viewport()->mapToGlobal(fits));
    QApplication::sendEvent(view->viewport(), &quiet);
    QTRY_VERIFY(QToolTip::text().isEmpty() || !QToolTip::isVisible());
}

void TestGridPair::clickBelowTheRowsKeepsTheHighlight()
{
    TFramedPair framed(AllProcesses);
    framed.Frame->resize(800, 500);
    framed.Frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(framed.Frame.get()));
    framed.Fill(3);
    QApplication::processEvents();
    TGridPair& pair = *framed.Pair;
    pair.SetSelectedRow(2);
    QSignalSpy selected(&pair, &TGridPair::RowSelected);
    for (QTableView* view : {pair.Left(), pair.Right()}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, view->viewport()->height() - 3));
        QCOMPARE(pair.SelectedRow(), 2);
        QVERIFY(view->selectionModel()->isRowSelected(1, {}));
    }
    QCOMPARE(selected.count(), 0);
}

QTEST_MAIN(TestGridPair)
#include "tst_gridpair.moc"
