#pragma once
// The window: TFormMain connected to the servers of the command line, or to the
// built-in sandbox server started inside the program (--demo). Without a display it
// says so and runs the headless monitor instead.

class QCommandLineParser;

// --demo.
void AddWindowOptions(QCommandLineParser& parser);
// True when a window can be shown: a display, or a platform named by QT_QPA_PLATFORM.
bool HaveDisplay();
// Runs the window (or the headless fallback); returns the exit code.
int RunWindow(const QCommandLineParser& parser);
