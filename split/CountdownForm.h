#pragma once
#include <QWidget>

class TCountDownForm : public QWidget {
    Q_OBJECT
public:
    explicit TCountDownForm(QWidget* parent = nullptr);
};
