#pragma once
// Opens a window's menu bar from the keyboard as desktops do: Open (the window binds it
// to F10) pops up the first menu, and so does pressing and releasing Alt alone, where
// the style does not already do that itself. Arrow keys then move through the menus.

#include <QObject>

class QMenuBar;

class TMenuBarKeys : public QObject
{
public:
    explicit TMenuBarKeys(QMenuBar* menuBar);

    void Open();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenuBar* MenuBar;
    // Alt went down with nothing else since: its release opens the menu bar.
    bool AltAlone = false;
};
