#include "ui/Banner.h"

#include <QPainter>
#include <QSvgRenderer>

TBanner::TBanner(QWidget* parent)
    : QWidget(parent), FPicture(new QSvgRenderer(QStringLiteral(":/torvane/banner.svg"), this))
{
    setObjectName(QStringLiteral("Image1"));
    setGeometry(0, 0, 325, 65);
}

void TBanner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    FPicture->render(&painter, rect());
}
