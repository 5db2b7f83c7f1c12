#pragma once
// A one-line label that never asks for the width of its text: in less room its text
// ends in "…" (the whole text stays its text() and its tooltip), so that a long text
// such as a server name cannot widen the window or squeeze its neighbours.

#include <QLabel>

class TElidedLabel : public QLabel
{
public:
    explicit TElidedLabel(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
