#pragma once
// The dialogs are laid out in pixels, as designed for a small dialog font. With the
// system's font at the size the system gives, a caption may need more room than its
// control has: the whole dialog, controls and client area alike, is then scaled by one
// factor, the least that lets every caption fit. Positions and proportions stay those
// of the design; at a font the design fits, nothing moves.

class QWidget;

// Call once every control of the dialog is placed, with the designed client size.
// Returns the factor applied (1 when everything fits).
double FitDialogToCaptions(QWidget* dialog, int clientWidth, int clientHeight);
