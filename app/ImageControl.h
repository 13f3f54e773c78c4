#pragma once
#include <QLabel>

// A picture control that reports the mouse like the image buttons and backgrounds need:
// moves (without a button held), presses, releases and clicks.
class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    int Tag = 0; // face state of an image button: 0 normal, 1 hover, 2 pressed

    // Makes the picture a button for the keyboard and for screen readers: it takes the
    // focus with Tab, Space and Enter press it, and it is announced as a button named
    // `caption`.
    void MakeButton(const QString& caption);
    bool IsButton() const { return m_button; }
    // What a press by the keyboard or a screen reader does: a click.
    void Click();

Q_SIGNALS:
    void mouseMoved();
    void mouseDown(Qt::MouseButton button);
    void mouseUp(Qt::MouseButton button);
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    bool m_button = false;
    bool m_secondOfDouble = false; // the press under way is the second of a double click
};

// A panel with a background picture; reports mouse moves over itself.
class TPanel : public QWidget {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);
Q_SIGNALS:
    void mouseMoved();
protected:
    void mouseMoveEvent(QMouseEvent* e) override;
};
