#pragma once
#include <QVideoWidget>

class TFilterGraph;

class TVideoWindow : public QVideoWidget {
    Q_OBJECT
public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    TFilterGraph* FilterGraph = nullptr;
};
