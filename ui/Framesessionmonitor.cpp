#include "ui/Framesessionmonitor.h"

TFrameSessionMonitor::TFrameSessionMonitor(QWidget* parent) : QWidget(parent) {}

void TFrameSessionMonitor::SetupUsersMode()
{
    FDatabaseMode = false;
}

void TFrameSessionMonitor::SetupDatabasesMode()
{
    FDatabaseMode = true;
}

void TFrameSessionMonitor::BindConnection(TConnectionSlot* slot)
{
    Slot = slot;
}

void TFrameSessionMonitor::RefreshView(bool) {}

void TFrameSessionMonitor::KillSelectedProcess() {}

void TFrameSessionMonitor::KillAllProcesses() {}
