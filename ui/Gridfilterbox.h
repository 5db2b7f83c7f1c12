#pragma once
// The filter box over a process list or a summary: the text typed keeps only the rows
// that contain it; Escape clears it.

#include <QLineEdit>

class TGridFilterBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit TGridFilterBox(const QString& placeholder, QWidget* parent = nullptr);

    // Ctrl+F: the box takes the focus with its text selected.
    void Focus();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
