#include "app/FocusStyle.h"
#include <QApplication>
#include <QPainter>
#include <QStyleOption>

void TFocusStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus))
        return;
    painter->save();
    painter->setPen(QPen(option->palette.color(QPalette::Active, QPalette::Highlight), 1, Qt::DotLine));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(option->rect).adjusted(3.5, 3.5, -4.5, -4.5));
    painter->restore();
}

void InstallFocusStyle()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QApplication::setStyle(new TFocusStyle);
}
