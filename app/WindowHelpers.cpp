#include "app/WindowHelpers.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QWidget>

namespace {
QPointer<QWidget> g_main;
QSet<QWidget*> g_disablers;

void ApplyMainFormEnabled()
{
    if (g_main)
        g_main->setEnabled(g_disablers.isEmpty());
}
} // namespace

void SetMainWindow(QWidget* window)
{
    g_main = window;
    g_disablers.clear();
}

void DisableMainFormFor(QWidget* dialog)
{
    if (!g_main)
        return;
    g_disablers.insert(dialog);
    ApplyMainFormEnabled();
}

void EnableMainFormAfter(QWidget* dialog)
{
    if (!g_main)
        return;
    g_disablers.remove(dialog);
    ApplyMainFormEnabled();
}

void CentreOverMainForm(QWidget* dialog)
{
    QRect area;
    if (g_main && g_main->isVisible())
        area = g_main->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    else
        return;
    const QSize size = dialog->frameGeometry().size().isValid() ? dialog->frameGeometry().size() : dialog->size();
    dialog->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
}

QWindow* MainWindowHandle()
{
    return g_main ? g_main->windowHandle() : nullptr;
}
