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

} // namespace

TMessageResult ShowMessage(QWidget* parent, const TMessageRequest& request)
{
    if (const TMessageAnswerer& answerer = MessageAnswerer())
        return answerer(request);
    const bool yesNo = request.Buttons == TMessageButtons::YesNo;
    QMessageBox box(BoxIcon(request.Icon), request.Caption, request.Text,
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

void SetMessageAnswerer(TMessageAnswerer answerer)
{
    MessageAnswerer() = std::move(answerer);
}

void SetFolderAnswerer(TFolderAnswerer answerer)
{
    FolderAnswerer() = std::move(answerer);
}
