#pragma once

class QWidget;

// What every dialog does with the main window, without knowing it: the main window is
// registered once (SetMainWindow) and the dialogs reach it only through these.

void SetMainWindow(QWidget* window);

// Dialogs that keep the main window disabled while they are shown. The main window is
// enabled again only when the last of them has closed, so closing one dialog never frees
// the main window under another (the countdown, for instance).
void DisableMainFormFor(QWidget* dialog);
void EnableMainFormAfter(QWidget* dialog);

// Centre a dialog over the main window (or the screen when there is none).
void CentreOverMainForm(QWidget* dialog);
// The main window's native window, for keeping a dialog above it; nullptr when none.
class QWindow* MainWindowHandle();
