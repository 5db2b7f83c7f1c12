#pragma once
// The logon dialog: asks for a server, the authentication and the credentials, hands
// them to the main window's ConnectServer and, once the connection is up, remembers
// the server and its logon details in the user hive (TSavedServers), so that the next
// time it lists every server used before and starts with the last one. It never talks
// to a server itself. Opened modally by the main window while a connection slot is
// free; the server list dialog hands its choice back through SelectServer.
//
// The main window connects off the main thread. Until it reports the outcome the
// dialog shows the hourglass and its entries take no input, but Cancel, Esc and the
// close box still answer: they call the attempt off (the main window drops its
// outcome) and close the dialog. After a failure the entries are as they were, after a
// success the logon is saved and the dialog closes.

#include "settings/Savedservers.h"

#include <QDialog>
#include <QFutureWatcher>
#include <QPointer>

#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class TBanner;
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
    // The saved servers are in the list: they are read off the main thread once the
    // dialog is first shown.
    bool ServersListed() const { return FServersListed; }

    // Top to bottom, in tab order.
    TBanner* const Image1;
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

    void reject() override;

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
    void ButtonHelpClick();
    void EditLoginnameChange();
    void EditPasswordChange();

    // Adds the names to the sorted list, each unless one differing at most in case is there.
    void AddServersToList(const QStringList& serverNames);
    void SetConnecting(bool connecting);
    void LogonEnded(bool connected, const QString& serverName, bool useWindowsAuthentication,
                    const QString& userName, const QString& password);
    // Puts a name into the box; a name in the list becomes the list's current entry,
    // so that leaving the box does not count as choosing it again.
    void SetServerText(const QString& serverName);

    struct TSavedList
    {
        QStringList Servers;
        std::optional<QString> DefaultServer;
    };
    // Fills the list once the saved servers are read, and the default server unless a
    // server was typed meanwhile.
    void SavedServersRead();

    TSavedServers FSavedServers;
    QFutureWatcher<TSavedList> FSavedList;
    bool FServersListed = false;
    bool FShown = false;
    bool FConnecting = false;
    int FAttempt = -1; // the main window's number of the attempt under way
    QPointer<QWidget> FFocusBeforeConnecting;
};
