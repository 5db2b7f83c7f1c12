#pragma once
// TFormAbout: the about box. Banner, product logo, the version and build read from the
// program file's version block, a link to the manual, the maker's notice and a credit
// line. The main window creates it, calls ShowVersion, shows it modally and deletes it.

#include <QDialog>

class QLabel;
class QPushButton;
class QSvgWidget;
class TProjectRCVersion;

class TFormAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* owner);

    // Fills LabelVersion from the running program's file.
    void ShowVersion();
    void ShowVersion(const TProjectRCVersion& version);

    QSvgWidget* Image1;
    QSvgWidget* Image2;
    QLabel* LabelVersion;
    QLabel* Label4;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* Button1;

private Q_SLOTS:
    void Button1Click();
    void Label4Click();
};
