#pragma once
#include <QObject>

// The media graph behind the preview.
class TFilterGraph : public QObject {
    Q_OBJECT
public:
    explicit TFilterGraph(QObject* parent = nullptr);
    bool Play();
    bool Pause();
    bool Stop();
    qint32 SourceLength() const; // milliseconds; 0 without a known duration
};
