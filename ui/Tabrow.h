#pragma once
// Turns a row of caption labels into tabs the mouse and the keyboard both reach: a
// click selects a tab; each tab takes the focus with Tab and Shift+Tab (its caption is
// underlined while it has it); Left and Right (Home, End) move to the neighbouring
// (first, last) tab and select it; Space and Enter select the focused tab. The labels
// keep their looks: the owner draws the selected tab in select.

#include <QObject>

#include <functional>
#include <vector>

class QLabel;

class TTabRow : public QObject
{
public:
    // select runs with a tab's index in tabs; the labels are not owned.
    TTabRow(std::vector<QLabel*> tabs, std::function<void(int)> select, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int IndexOf(QObject* watched) const;
    void MoveTo(int index);

    std::vector<QLabel*> Tabs;
    std::function<void(int)> Select;
};
