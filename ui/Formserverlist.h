#pragma once
// The server list dialog: lists the SQL Servers found on the network (TServerBrowser)
// so the user can pick one for the logon dialog instead of typing its name. Opened
// modally by the logon dialog's "..." button.
//
// Every activation of the dialog starts a search unless one is under way. The search
// runs on a worker thread, with the hourglass over the dialog until it ends, so the
// dialog stays responsive and can be closed at any time; names it finds are appended
// to the list, each once. A search still running when the dialog goes is asked to stop
// and its names are dropped.

#include <QDialog>
#include <QFutureWatcher>

#include <stop_token>
#include <string>
#include <vector>

class QLabel;
class TBanner;
class QListWidget;
class QPushButton;
class TFormLogon;

class TFormServerList : public QDialog
{
    Q_OBJECT

public:
    explicit TFormServerList(QWidget* parent = nullptr);
    ~TFormServerList() override;

    // The logon dialog that opened this one; set before it is shown; not owned.
    TFormLogon* LogonDialog = nullptr;

    // Starts a search unless one is under way.
    void BrowseServers();
    bool Browsing() const { return FSearch.isRunning(); }
    // Hands the selected name, if any, to the logon dialog and closes.
    void AcceptSelection();

    TBanner* const Image1;
    QLabel* const Panel1;
    QListWidget* const ListBoxServers;
    QPushButton* const ButtonOK;
    QPushButton* const ButtonCancel;
    QPushButton* const ButtonHelp;

Q_SIGNALS:
    // A search has ended and its names are in the list.
    void BrowseFinished();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormActivate();
    void ButtonOKClick();
    void ListBoxServersDblClick();
    void ButtonCancelClick();
    void SearchEnded();

    QFutureWatcher<std::vector<std::string>> FSearch;
    std::stop_source FStop;
    bool FCentred = false;
};
