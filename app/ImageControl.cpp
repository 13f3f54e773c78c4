#include "app/ImageControl.h"
#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

// Screen readers see an image button as a push button they can press.
class TImageButtonAccessible : public QAccessibleWidget {
public:
    explicit TImageButtonAccessible(TImage* image) : QAccessibleWidget(image, QAccessible::Button) {}
    QStringList actionNames() const override
    {
        return {pressAction(), setFocusAction()};
    }
    void doAction(const QString& name) override
    {
        auto* image = static_cast<TImage*>(widget());
        if (name == pressAction()) {
            if (image->isEnabled() && image->isVisible())
                image->Click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }
};

QAccessibleInterface* ImageButtonFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TImage"))
        if (auto* image = qobject_cast<TImage*>(object); image && image->IsButton())
            return new TImageButtonAccessible(image);
    return nullptr;
}

} // namespace

TImage::TImage(QWidget* parent) : QLabel(parent)
{
    setMouseTracking(true);
}

void TImage::MakeButton(const QString& caption)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(ImageButtonFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    m_button = true;
    // Tab reaches it; a click does not take the focus from a field being edited.
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(caption);
}

void TImage::Click()
{
    Q_EMIT clicked();
}

void TImage::mouseMoveEvent(QMouseEvent* e)
{
    Q_EMIT mouseMoved();
    // Taken here: passed on, the region behind would take it as a move over itself.
    e->accept();
}

void TImage::mousePressEvent(QMouseEvent* e)
{
    m_secondOfDouble = false;
    Q_EMIT mouseDown(e->button());
}

void TImage::mouseDoubleClickEvent(QMouseEvent* e)
{
    // The second press of a double click: the first one already clicked. It may land on
    // the other face (Split turns into Stop under the pointer), which must not take it as
    // a click of its own.
    m_secondOfDouble = true;
    Q_EMIT mouseDown(e->button());
}

void TImage::mouseReleaseEvent(QMouseEvent* e)
{
    const bool second = m_secondOfDouble;
    m_secondOfDouble = false;
    Q_EMIT mouseUp(e->button());
    if (!second && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()))
        Q_EMIT clicked();
}

void TImage::keyPressEvent(QKeyEvent* e)
{
    const bool press = e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (m_button && press && e->modifiers() == Qt::NoModifier) {
        if (!e->isAutoRepeat())
            Click();
        e->accept();
        return;
    }
    QLabel::keyPressEvent(e);
}

void TImage::paintEvent(QPaintEvent* e)
{
    QLabel::paintEvent(e);
    if (!m_button || !hasFocus())
        return;
    // The face has no focus look of its own: a dotted frame inside its edge.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(255, 255, 255, 230), 1.5, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(4.5, 4.5, -4.5, -4.5), 6, 6);
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
