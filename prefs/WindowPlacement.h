#pragma once
#include <QList>
#include <QRect>
#include <QSize>

class PreferencesStore;

// Where the main window stood and how large it was when the program last closed. A file
// from before windows could be resized has none of it: the window then opens centred at
// its smallest size, as it always did.
struct WindowPlacement {
    QRect geometry;      // the window's inside, without the frame; null when none is stored
    bool maximized = false;
    bool IsStored() const { return geometry.isValid(); }
};

// Section "Window": Left, Top, Width, Height, Maximized. Values that cannot be read, or
// that are out of every sensible range, count as none stored.
WindowPlacement ReadWindowPlacement(const PreferencesStore& store);
// A refused write throws, as every preferences write does.
void WriteWindowPlacement(PreferencesStore& store, const WindowPlacement& placement);

// The rectangle to open the window in: the stored size, no smaller than `minimum` and no
// larger than the screen it lands on; the stored place when enough of the window (its top
// strip, where the title bar is grabbed) lies on one of `screens` (their available areas),
// otherwise centred on `primary`. A null rectangle when nothing is stored.
QRect FitWindowPlacement(const WindowPlacement& stored, QSize minimum, const QList<QRect>& screens,
                         const QRect& primary);
