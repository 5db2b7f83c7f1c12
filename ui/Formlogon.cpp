#include "ui/Formlogon.h"


#include "ui/Banner.h"
#include "ui/Dialoglayout.h"
#include "ui/Formserverlist.h"
#include "ui/Manual.h"
#include "ui/Serverconnector.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

template <typename TControl>
TControl* Place(TControl* control, const char* name, int left, int top, int width = -1, int height = -1)
{
    control->setObjectName(QLatin1String(name));
    if (width < 0) {
        control->adjustSize();
        control->move(left, top);
    } else {
        control->setGeometry(left, top, width, height);
    }
    return control;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int left, int top)
{
    return Place(new QLabel(text, parent), name, left, top);
}

} // namespace

TFormLogon::TFormLogon(QWidget* parent)
    : QDialog(parent), Image1(new TBanner(this)),
      Label1(Label(this, "Label1", QStringLiteral("&SQL Server:"), 16, 88)),
      ComboBoxDBServers(Place(new QComboBox(this), "ComboBoxDBServers", 78, 85, 211, 21)),
      ButtonListServers(
          Place(new QPushButton(QStringLiteral("..."), this), "ButtonListServers", 290, 85, 20, 21)),
      CBoxWindowsNTAuth(Place(new QCheckBox(QStringLiteral("Use &Windows Authentication"), this),
                              "CBoxWindowsNTAuth", 80, 123, 209, 17)),
      Label2(Label(this, "Label2", QStringLiteral("SQL Server authentication"), 16, 152)),
      LabelLogonname(Label(this, "LabelLogonname", QStringLiteral("&Login name:"), 48, 176)),
      EditLoginname(Place(new QLineEdit(this), "EditLoginname", 112, 176, 161, 19)),
      LabelPassword(Label(this, "LabelPassword", QStringLiteral("&Password:"), 48, 200)),
      EditPassword(Place(new QLineEdit(this), "EditPassword", 112, 200, 161, 19)),
      CBoxSavePassword(
          Place(new QCheckBox(QStringLiteral("Save Pass&word"), this), "CBoxSavePassword", 176, 224, 97, 17)),
      ButtonLogon(Place(new QPushButton(QStringLiteral("Logon"), this), "ButtonLogon", 80, 248, 75, 25)),
      ButtonCancel(Place(new QPushButton(QStringLiteral("Cancel"), this), "ButtonCancel", 160, 248, 75, 25)),
      ButtonHelp(Place(new QPushButton(QStringLiteral("Help"), this), "ButtonHelp", 240, 248, 75, 25))
{
    setWindowTitle(QStringLiteral("Velquin SQL Server Monitor"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    SetFixedBackground(this, Qt::white);

    Label1->setBuddy(ComboBoxDBServers);
    LabelLogonname->setBuddy(EditLoginname);
    LabelPassword->setBuddy(EditPassword);

    // The server is the text exactly as typed or chosen: no completion from the list.
    ComboBoxDBServers->setEditable(true);
    ComboBoxDBServers->setInsertPolicy(QComboBox::NoInsert);
    ComboBoxDBServers->setCompleter(nullptr);
    EditPassword->setEchoMode(QLineEdit::Password);
    EditPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42 }"));

    ButtonLogon->setDefault(true);
    // Cancel answers while the rest of the dialog waits for a connection.
    ButtonCancel->setCursor(Qt::ArrowCursor);
    QWidget* const tabOrder[] = {ComboBoxDBServers, ButtonListServers, CBoxWindowsNTAuth,
                                 EditLoginname,     EditPassword,      CBoxSavePassword,
                                 ButtonLogon,       ButtonCancel,      ButtonHelp};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(ComboBoxDBServers, &QComboBox::activated, this, &TFormLogon::ComboBoxDBServersSelect);
    connect(ButtonListServers, &QPushButton::clicked, this, &TFormLogon::ButtonListServersClick);
    connect(ButtonLogon, &QPushButton::clicked, this, &TFormLogon::ButtonLogonClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &TFormLogon::ButtonCancelClick);
    connect(EditLoginname, &QLineEdit::textChanged, this, &TFormLogon::EditLoginnameChange);
    connect(EditPassword, &QLineEdit::textChanged, this, &TFormLogon::EditPasswordChange);
    connect(ButtonHelp, &QPushButton::clicked, this, &TFormLogon::ButtonHelpClick);
    setFont(DesignFont());
    FitDialogToCaptions(this, 325, 282);
}

TFormLogon::~TFormLogon()
{
    // The box loses the focus while the dialog goes, after the saved servers have gone.
    ComboBoxDBServers->disconnect(this);
}

void TFormLogon::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (FShown)
        return;
    FShown = true;
    if (const QScreen* shown = screen())
        move(shown->availableGeometry().center() - rect().center());
    FormActivate();
}

void TFormLogon::FormActivate()
{
    // Read off the main thread: a user hive of thousands of saved servers takes a while
    // to parse, and the dialog (and the window behind it) answers meanwhile.
    connect(&FSavedList, &QFutureWatcherBase::finished, this, &TFormLogon::SavedServersRead);
    FSavedList.setFuture(QtConcurrent::run([saved = FSavedServers] {
        return TSavedList{saved.ListOfServers(), saved.DefaultServer()};
    }));
}

void TFormLogon::SavedServersRead()
{
    const TSavedList list = FSavedList.result();
    AddServersToList(list.Servers);
    FServersListed = true;
    // A server typed meanwhile stays.
    if (list.DefaultServer && ComboBoxDBServers->currentText().isEmpty()) {
        SetServerText(*list.DefaultServer);
        LoadServerSettings();
    }
}

// The names in order, ignoring case, each once (its first spelling), put into the box
// in one go: a user who has saved thousands of servers waits for a sort, not for an
// insert per name into a box that already holds thousands.
void TFormLogon::AddServersToList(const QStringList& serverNames)
{
    QStringList names;
    QSet<QString> seen;
    for (int i = 0; i < ComboBoxDBServers->count(); ++i)
        names << ComboBoxDBServers->itemText(i);
    names << serverNames;
    QStringList unique;
    for (const QString& name : names) {
        if (!seen.contains(name.toCaseFolded())) {
            seen.insert(name.toCaseFolded());
            unique << name;
        }
    }
    std::stable_sort(unique.begin(), unique.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    // Adding items must not put one of them into the box.
    const QString typed = ComboBoxDBServers->currentText();
    ComboBoxDBServers->clear();
    ComboBoxDBServers->addItems(unique);
    ComboBoxDBServers->setCurrentIndex(-1);
    ComboBoxDBServers->setEditText(typed);
}

void TFormLogon::SetServerText(const QString& serverName)
{
    const int index = ComboBoxDBServers->findText(serverName, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    ComboBoxDBServers->setCurrentIndex(index);
    if (index < 0)
        ComboBoxDBServers->setEditText(serverName);
}

void TFormLogon::SelectServer(const QString& serverName)
{
    if (serverName.isEmpty())
        return;
    SetServerText(serverName);
    LoadServerSettings();
}

void TFormLogon::LoadServerSettings()
{
    const std::optional<TSavedLogon> saved = FSavedServers.Load(ComboBoxDBServers->currentText());
    if (!saved)
        return;
    if (saved->UseWindowsNT)
        CBoxWindowsNTAuth->setChecked(*saved->UseWindowsNT == 1);
    // Both fields change through their ordinary notifications, which uncheck Windows
    // authentication whenever a text really changes.
    EditLoginname->clear();
    if (saved->UserID)
        EditLoginname->setText(*saved->UserID);
    EditPassword->clear();
    CBoxSavePassword->setChecked(false);
    if (saved->Password) {
        EditPassword->setText(*saved->Password);
        CBoxSavePassword->setChecked(true);
    }
}

void TFormLogon::ComboBoxDBServersSelect()
{
    LoadServerSettings();
}

void TFormLogon::ButtonListServersClick()
{
    TFormServerList serverList(this);
    serverList.LogonDialog = this;
    serverList.exec();
}

void TFormLogon::ButtonLogonClick()
{
    const QString userName = EditLoginname->text();
    const QString password = EditPassword->text();
    const QString serverName = ComboBoxDBServers->currentText();
    const bool useWindowsAuthentication = CBoxWindowsNTAuth->isChecked();
    SetConnecting(true);
    FAttempt = MainWindow->ConnectServer(
        serverName, useWindowsAuthentication, userName, password,
        [dialog = QPointer<TFormLogon>(this), serverName, useWindowsAuthentication, userName,
         password](bool connected) {
            if (dialog)
                dialog->LogonEnded(connected, serverName, useWindowsAuthentication, userName, password);
        });
}

void TFormLogon::LogonEnded(bool connected, const QString& serverName, bool useWindowsAuthentication,
                            const QString& userName, const QString& password)
{
    SetConnecting(false);
    if (!connected)
        return;
    // The connection stays up even when nothing can be saved.
    FSavedServers.SaveLogon(serverName, useWindowsAuthentication, userName, password,
                            CBoxSavePassword->isChecked());
    accept();
}

void TFormLogon::SetConnecting(bool connecting)
{
    FConnecting = connecting;
    QWidget* const focused = focusWidget();
    for (QWidget* control :
         std::initializer_list<QWidget*>{ComboBoxDBServers, ButtonListServers, CBoxWindowsNTAuth,
                                         EditLoginname, EditPassword, CBoxSavePassword, ButtonLogon})
        control->setEnabled(!connecting);
    if (connecting) {
        if (focused && !focused->isEnabled())
            ButtonCancel->setFocus();
        setCursor(Qt::WaitCursor);
        FFocusBeforeConnecting = focused;
    } else {
        unsetCursor();
        if (FFocusBeforeConnecting)
            FFocusBeforeConnecting->setFocus();
    }
}

void TFormLogon::reject()
{
    if (FConnecting) {
        FConnecting = false;
        MainWindow->AbandonConnect(FAttempt);
        unsetCursor();
    }
    QDialog::reject();
}

void TFormLogon::ButtonHelpClick()
{
    OpenManual();
}

void TFormLogon::ButtonCancelClick()
{
    reject();
}

void TFormLogon::EditLoginnameChange()
{
    CBoxWindowsNTAuth->setChecked(false);
}

void TFormLogon::EditPasswordChange()
{
    CBoxWindowsNTAuth->setChecked(false);
}
