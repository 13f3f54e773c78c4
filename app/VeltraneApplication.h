#pragma once
#include <QApplication>

// Shows every error that escapes an event handler in the standard error box and goes on.
class VeltraneApplication : public QApplication {
public:
    VeltraneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
