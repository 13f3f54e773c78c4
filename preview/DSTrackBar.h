#pragma once
#include <QSlider>

class TFilterGraph;

// Position track bar in whole seconds, with the marked range as its selection.
class TDSTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TDSTrackBar(QWidget* parent = nullptr);
    TFilterGraph* FilterGraph = nullptr;

    int Position() const { return value(); }
    void SetPosition(int p) { setValue(p); } // clamped to Min..Max
    int Min() const { return minimum(); }
    int Max() const { return maximum(); }
    int SelStart() const { return m_selStart; }
    int SelEnd() const { return m_selEnd; }
    void SetSelStart(int s) { m_selStart = s; update(); }
    void SetSelEnd(int s) { m_selEnd = s; update(); }

private:
    int m_selStart = 0;
    int m_selEnd = 0;
};
