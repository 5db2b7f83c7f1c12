#include "ui/Menubarkeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QStyle>

TMenuBarKeys::TMenuBarKeys(QMenuBar* menuBar) : QObject(menuBar), MenuBar(menuBar)
{
    // A style with Alt navigation of its own handles Alt alone already; a second
    // handler would open the menu and close it again.
    if (!MenuBar->style()->styleHint(QStyle::SH_MenuBar_AltKeyNavigation, nullptr, MenuBar))
        QApplication::instance()->installEventFilter(this);
}

void TMenuBarKeys::Open()
{
    for (QAction* menu : MenuBar->actions()) {
        if (menu->isVisible() && menu->isEnabled()) {
            MenuBar->setActiveAction(menu);
            return;
        }
    }
}

bool TMenuBarKeys::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto* widget = qobject_cast<QWidget*>(watched);
        // Only for the menu bar's own window, and not while a menu or another popup is open.
        AltAlone = key->key() == Qt::Key_Alt && key->modifiers() == Qt::AltModifier && widget &&
                   widget->window() == MenuBar->window() && !QApplication::activePopupWidget();
        break;
    }
    case QEvent::KeyRelease:
        if (AltAlone && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt) {
            AltAlone = false;
            Open();
            return true;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::FocusOut:
    case QEvent::WindowDeactivate:
        AltAlone = false;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
