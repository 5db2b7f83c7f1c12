#pragma once
// What the view tests do as a user would: find a row by its text, click it with either
// button, click a grid's heading, and answer every message box while recording it.

#include "ui/Gridmodel.h"
#include "ui/Gridpair.h"
#include "ui/Messagebox.h"

#include <QHeaderView>
#include <QTableView>
#include <QTest>

#include <functional>
#include <vector>

// The grid row whose cell in col holds text, or -1.
inline int RowWithCell(const TGridModel& grid, int col, const QString& text)
{
    for (int row = 1; row < grid.RowCount(); ++row) {
        if (grid.CellText(col, row) == text)
            return row;
    }
    return -1;
}

// A click on a data row of the pair's right view (scrolled into view first).
inline void ClickRow(TGridPair& pair, int gridRow, Qt::MouseButton button = Qt::LeftButton)
{
    QTableView* view = pair.Right();
    const QModelIndex index = view->model()->index(gridRow - 1, view->columnAt(0));
    view->scrollTo(index);
    QTest::mouseClick(view->viewport(), button, {}, view->visualRect(index).center());
}

inline void ClickHeading(TGridPair& pair, Qt::MouseButton button)
{
    QHeaderView* header = pair.Right()->horizontalHeader();
    QTest::mouseClick(header->viewport(), button, {}, QPoint(20, header->height() / 2));
}

// Answers every message box with Answer and keeps what was asked, until it goes.
class TMessageRecorder
{
public:
    explicit TMessageRecorder(TMessageResult answer) : Answer(answer)
    {
        SetMessageAnswerer([this](const TMessageRequest& request) {
            Asked.push_back(request);
            if (request.Buttons == TMessageButtons::YesNo && OnQuestion)
                OnQuestion();
            return request.Buttons == TMessageButtons::YesNo ? Answer : TMessageResult::Ok;
        });
    }
    ~TMessageRecorder() { SetMessageAnswerer({}); }
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    TMessageResult Answer;
    std::vector<TMessageRequest> Asked;
    // Runs while a question is open, before it is answered: what happens meanwhile.
    std::function<void()> OnQuestion;
};
