#pragma once
// The windows are laid out in pixels, as designed for an 8-point dialog font of about
// 5 pixels per character at 96 dpi. Fonts here are wider: every designed size (dialog
// controls, panels, column widths, row heights, the window's default size) is taken in
// one layout unit, the design's pixel times the factor by which the font actually used
// is wider than the design's. The factor is computed in logical pixels, so a HiDPI
// screen (a device pixel ratio) scales the whole window on top of it without changing
// the layout. Proportions stay those of the design; at a font the design fits, nothing
// moves.

#include <QFont>

class QColor;
class QWidget;

// The font every window uses: the system's UI font at 8 points. A font set in pixels
// (as a test does to get the design's metrics) is taken as it is.
QFont DesignFont();
// How much wider the font's characters are than the design's 5 pixels; at least 1.
double LayoutScale(const QFont& font);
// The factor of the design font, computed once per font.
double LayoutScale();
// A designed pixel size in the program's layout unit.
int LayoutPixels(int designed);
int LayoutPixels(int designed, double scale);

// Scales the dialog's controls (direct children and the controls inside group boxes
// placed in pixels) and its client area by the layout unit, or by more where a caption
// would still not fit, and fixes the dialog's size. Call once every control is placed
// at its designed place with the designed client size. Returns the factor applied.
double FitDialogToCaptions(QWidget* dialog, int clientWidth, int clientHeight);

// Gives the widget a background of its own and, with it, the text colour that reads
// on it (black on a light one, white on a dark one), whatever the desktop's palette:
// a fixed background with the palette's text colour is unreadable on some desktops.
void SetFixedBackground(QWidget* widget, const QColor& background);
