#include "ui/Messagebox.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

TMessageAnswerer& MessageAnswerer()
{
    static TMessageAnswerer answerer;
    return answerer;
}

TFolderAnswerer& FolderAnswerer()
{
    static TFolderAnswerer answerer;
    return answerer;
}

QMessageBox::Icon BoxIcon(TMessageIcon icon)
{
    switch (icon) {
    case TMessageIcon::Information:
        return QMessageBox::Information;
    case TMessageIcon::Warning:
        return QMessageBox::Warning;
    case TMessageIcon::Error:
        return QMessageBox::Critical;
    case TMessageIcon::Question:
        return QMessageBox::Question;
    case TMessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The text as the box shows it: a hyphen inside a word (a host such as WS-JSMITH) is
// a non-breaking one, so that the box never wraps a name at it.
QString Unbroken(const QString& text)
{
    QString shown = text;
    for (qsizetype i = 1; i + 1 < shown.size(); ++i)
        if (shown[i] == QLatin1Char('-') && shown[i - 1].isLetterOrNumber() && shown[i + 1].isLetterOrNumber())
            shown[i] = QChar(0x2011);
    return shown;
}

} // namespace

TMessageResult ShowMessage(QWidget* parent, const TMessageRequest& request)
{
    if (const TMessageAnswerer& answerer = MessageAnswerer())
        return answerer(request);
    const bool yesNo = request.Buttons == TMessageButtons::YesNo;
    QMessageBox box(BoxIcon(request.Icon), request.Caption, Unbroken(request.Text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    const int answer = box.exec();
    if (!yesNo)
        return TMessageResult::Ok;
    return answer == QMessageBox::Yes ? TMessageResult::Yes : TMessageResult::No;
}

QString ChooseFolder(QWidget* parent, const QString& title, const QString& startFolder)
{
    if (const TFolderAnswerer& answerer = FolderAnswerer())
        return answerer(title);
    return QFileDialog::getExistingDirectory(parent, title, startFolder);
}

QString ChooseFile(QWidget* parent, const QString& title, const QString& startFile)
{
    if (const TFolderAnswerer& answerer = FolderAnswerer())
        return answerer(title);
    return QFileDialog::getOpenFileName(parent, title, startFile);
}

QString ChooseSaveFile(QWidget* parent, const QString& title, const QString& startFile, const QString& filter)
{
    if (const TFolderAnswerer& answerer = FolderAnswerer())
        return answerer(title);
    return QFileDialog::getSaveFileName(parent, title, startFile, filter);
}

void SetMessageAnswerer(TMessageAnswerer answerer)
{
    MessageAnswerer() = std::move(answerer);
}

void SetFolderAnswerer(TFolderAnswerer answerer)
{
    FolderAnswerer() = std::move(answerer);
}
