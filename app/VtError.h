#pragma once
#include <QString>
#include <stdexcept>

// An error that ends the handler it was raised in and is shown in the program's
// standard error box (ShowErrorBox in app/Dialogs.h); the program then goes on.
class EVeltraneError : public std::runtime_error {
public:
    explicit EVeltraneError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// "List index out of bounds (%d)"
class EListIndexError : public EVeltraneError {
public:
    explicit EListIndexError(int index)
        : EVeltraneError(QStringLiteral("List index out of bounds (%1)").arg(index)), m_index(index) {}
    int index() const { return m_index; }

private:
    int m_index;
};
