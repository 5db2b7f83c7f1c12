#include "ui/Banner.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QLabel* CreateBanner(QWidget* parent)
{
    auto* banner = new QLabel(parent);
    banner->setObjectName(QStringLiteral("Image1"));
    banner->setGeometry(0, 0, 325, 65);
    const qreal scale = parent->devicePixelRatioF();
    QPixmap picture(QSize(325, 65) * scale);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    QSvgRenderer(QStringLiteral(":/torvane/banner.svg")).render(&painter, QRectF(0, 0, 325, 65));
    painter.end();
    banner->setPixmap(picture);
    return banner;
}
