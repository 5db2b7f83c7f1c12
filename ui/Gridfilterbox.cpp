#include "ui/Gridfilterbox.h"

#include <QKeyEvent>

TGridFilterBox::TGridFilterBox(const QString& placeholder, QWidget* parent) : QLineEdit(parent)
{
    setPlaceholderText(placeholder);
    setClearButtonEnabled(true);
}

void TGridFilterBox::Focus()
{
    setFocus(Qt::ShortcutFocusReason);
    selectAll();
}

void TGridFilterBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !text().isEmpty()) {
        clear();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
