#pragma once
#include <QProxyStyle>

// The desktop's own style, with a focus frame on push buttons: some styles draw a default
// button with the same outline as a focused one, so Enter's target could not be told from
// the button that Tab has reached.
class TFocusStyle : public QProxyStyle {
public:
    TFocusStyle() = default;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

// Installs it for the application, once.
void InstallFocusStyle();
