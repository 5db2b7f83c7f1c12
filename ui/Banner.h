#pragma once
// The banner across the top of the logon and server list dialogs.

class QLabel;
class QWidget;

// A label of 325 x 65 at the top left of parent showing the banner picture.
QLabel* CreateBanner(QWidget* parent);
