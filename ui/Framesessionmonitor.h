#pragma once
// The session monitor of one server: in users mode the summary of users, in databases
// mode the summary of databases; below it the processes of the selected row and the
// process information frame of the selected process. The selection follows the same
// user, database and process across refreshes.

#include <QWidget>

class TConnectionSlot;

class TFrameSessionMonitor : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameSessionMonitor(QWidget* parent = nullptr);

    void SetupUsersMode();
    void SetupDatabasesMode();
    bool DatabaseMode() const { return FDatabaseMode; }

    // The server shown from now on (null: none); the remembered keys stay.
    void BindConnection(TConnectionSlot* slot);
    // Refills every grid from the bound server's model objects and keeps the selection.
    void RefreshView(bool showSinceReset);

    void KillSelectedProcess();
    void KillAllProcesses();

private:
    bool FDatabaseMode = false;
    TConnectionSlot* Slot = nullptr;
};
