#include "ui/Tabrow.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <algorithm>

TTabRow::TTabRow(std::vector<QLabel*> tabs, std::function<void(int)> select, QObject* parent)
    : QObject(parent), Tabs(std::move(tabs)), Select(std::move(select))
{
    for (QLabel* tab : Tabs) {
        tab->setFocusPolicy(Qt::TabFocus); // a click selects; the focus mark is for the keyboard
        tab->installEventFilter(this);
    }
}

int TTabRow::IndexOf(QObject* watched) const
{
    const auto found = std::find(Tabs.begin(), Tabs.end(), watched);
    return found == Tabs.end() ? -1 : static_cast<int>(found - Tabs.begin());
}

void TTabRow::MoveTo(int index)
{
    const int last = static_cast<int>(Tabs.size()) - 1;
    index = std::clamp(index, 0, last);
    Tabs[static_cast<std::size_t>(index)]->setFocus(Qt::TabFocusReason);
    Select(index);
}

bool TTabRow::eventFilter(QObject* watched, QEvent* event)
{
    const int index = IndexOf(watched);
    if (index < 0)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            break;
        Select(index);
        return true;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            break;
        switch (key->key()) {
        case Qt::Key_Left:
            MoveTo(index - 1);
            return true;
        case Qt::Key_Right:
            MoveTo(index + 1);
            return true;
        case Qt::Key_Home:
            MoveTo(0);
            return true;
        case Qt::Key_End:
            MoveTo(static_cast<int>(Tabs.size()) - 1);
            return true;
        case Qt::Key_Space:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Select(index);
            return true;
        default:
            break;
        }
        break;
    }
    case QEvent::FocusIn:
    case QEvent::FocusOut: {
        // The caption's underline is the focus mark: the tab pictures leave no room for a
        // frame, and the selected tab's bold face is the owner's to set.
        auto* tab = static_cast<QLabel*>(watched);
        QFont font = tab->font();
        font.setUnderline(event->type() == QEvent::FocusIn);
        tab->setFont(font);
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
