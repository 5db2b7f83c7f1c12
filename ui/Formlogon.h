#pragma once
// The logon dialog: asks for a server, the authentication and the credentials, hands
// them to the main window's ConnectServer and, once the connection is up, remembers
// the server and its logon details in the user hive (TSavedServers), so that the next
// time it lists every server used before and starts with the last one. It never talks
// to a server itself. Opened modally by the main window while a connection slot is
// free, and from the server list dialog's choice through SelectServer.

#include "settings/Savedservers.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TServerConnector;

class TFormLogon : public QDialog
{
    Q_OBJECT

public:
    explicit TFormLogon(QWidget* parent = nullptr);
    ~TFormLogon() override;

    // Set by the opener before the dialog is shown; not owned.
    TServerConnector* MainWindow = nullptr;

    // A name chosen in the server list dialog: it becomes the server and its saved
    // details are loaded. An empty name changes nothing.
    void SelectServer(const QString& serverName);
    // Fills the check boxes and fields from the saved key of the server in the box;
    // nothing changes when it has none.
    void LoadServerSettings();

    // Top to bottom, in tab order.
    QLabel* const Image1;
    QLabel* const Label1;
    QComboBox* const ComboBoxDBServers;
    QPushButton* const ButtonListServers;
    QCheckBox* const CBoxWindowsNTAuth;
    QLabel* const Label2;
    QLabel* const LabelLogonname;
    QLineEdit* const EditLoginname;
    QLabel* const LabelPassword;
    QLineEdit* const EditPassword;
    QCheckBox* const CBoxSavePassword;
    QPushButton* const ButtonLogon;
    QPushButton* const ButtonCancel;
    QPushButton* const ButtonHelp;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Runs when the dialog is first shown only: coming back from the server list
    // dialog keeps the server chosen there instead of putting the default back.
    void FormActivate();
    void ComboBoxDBServersSelect();
    void ButtonListServersClick();
    void ButtonLogonClick();
    void ButtonCancelClick();
    void EditLoginnameChange();
    void EditPasswordChange();

    // Adds a name to the sorted list unless one differing at most in case is there.
    void AddServerToList(const QString& serverName);
    // Puts a name into the box; a name in the list becomes the list's current entry,
    // so that leaving the box does not count as choosing it again.
    void SetServerText(const QString& serverName);

    TSavedServers FSavedServers;
    bool FShown = false;
};
