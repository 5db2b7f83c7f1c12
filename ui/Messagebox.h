#pragma once
// Every message box and file-system chooser of the window goes through this one seam,
// so widget tests answer them instead of a user. Without an answerer the real Qt
// dialog is shown, modal to the given parent.

#include <QString>

#include <functional>

class QWidget;

enum class TMessageButtons
{
    Ok,
    YesNo
};
enum class TMessageResult
{
    Ok,
    Yes,
    No
};
enum class TMessageIcon
{
    None,
    Information,
    Warning,
    Error,
    Question
};

struct TMessageRequest
{
    QString Text;
    QString Caption;
    TMessageButtons Buttons = TMessageButtons::Ok;
    TMessageIcon Icon = TMessageIcon::None;
};

TMessageResult ShowMessage(QWidget* parent, const TMessageRequest& request);

// A folder chooser with a title; an empty result when the user cancels.
QString ChooseFolder(QWidget* parent, const QString& title, const QString& startFolder);

// A chooser of one existing file with a title; an empty result when the user cancels.
QString ChooseFile(QWidget* parent, const QString& title, const QString& startFile);

// A chooser of a file to write (filter as QFileDialog takes it, "CSV files (*.csv)");
// an empty result when the user cancels.
QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& startFile,
                       const QString& filter);

// Tests install answerers (the folder answerer answers the file choosers too); an empty
// function restores the real dialogs.
using TMessageAnswerer = std::function<TMessageResult(const TMessageRequest&)>;
using TFolderAnswerer = std::function<QString(const QString& title)>;
void SetMessageAnswerer(TMessageAnswerer answerer);
void SetFolderAnswerer(TFolderAnswerer answerer);
