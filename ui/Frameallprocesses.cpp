#include "ui/Frameallprocesses.h"

TFrameAllProcesses::TFrameAllProcesses(QWidget* parent) : QWidget(parent) {}

void TFrameAllProcesses::BindConnection(TConnectionSlot* slot)
{
    Slot = slot;
}

void TFrameAllProcesses::RefreshView(bool) {}

void TFrameAllProcesses::KillSelectedProcess() {}
