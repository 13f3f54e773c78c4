#include "app/ImageControl.h"
#include <QMouseEvent>

TImage::TImage(QWidget* parent) : QLabel(parent)
{
    setMouseTracking(true);
}

void TImage::mouseMoveEvent(QMouseEvent* e)
{
    Q_EMIT mouseMoved();
    // Taken here: passed on, the region behind would take it as a move over itself.
    e->accept();
}

void TImage::mousePressEvent(QMouseEvent* e)
{
    Q_EMIT mouseDown(e->button());
}

void TImage::mouseReleaseEvent(QMouseEvent* e)
{
    Q_EMIT mouseUp(e->button());
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        Q_EMIT clicked();
}

TPanel::TPanel(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
}

void TPanel::mouseMoveEvent(QMouseEvent* e)
{
    Q_EMIT mouseMoved();
    e->accept(); // a panel inside another is not also a move over the outer one
}
