#pragma once
// The banner across the top of the logon and server list dialogs: the project's own
// picture, drawn to whatever size the dialog gives it.

#include <QWidget>

class QSvgRenderer;

class TBanner : public QWidget
{
    Q_OBJECT

public:
    explicit TBanner(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSvgRenderer* const FPicture;
};
