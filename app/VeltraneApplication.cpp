#include "app/VeltraneApplication.h"
#include "app/Dialogs.h"

VeltraneApplication::VeltraneApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool VeltraneApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    RunGuarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}
