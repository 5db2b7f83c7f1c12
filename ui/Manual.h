#pragma once
// The program's manual: one HTML page shipped with the program. The Help menu and the
// Help buttons of the dialogs open it with the desktop's default handler for HTML.

#include <QString>

// The manual's file name wherever it lives.
inline constexpr auto ManualFileName = "manual.html";

// Where the manual of a program in programDirectory is: beside the program (a build
// tree), in the share folder of the prefix the program is installed in
// (prefix/bin/torvane reads prefix/share/torvane/manual.html), or in the desktop's data
// folders ($XDG_DATA_HOME, $XDG_DATA_DIRS). Empty when it is nowhere.
QString FindManual(const QString& programDirectory);

// Opens the running program's manual. A missing manual, or one the desktop cannot open,
// does nothing: there is no message.
void OpenManual();
