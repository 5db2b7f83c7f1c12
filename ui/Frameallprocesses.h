#pragma once
// Every process of one server, one row each, with the process information frame of the
// selected process below; the selection follows the same SPID across refreshes.

#include <QWidget>

class TConnectionSlot;

class TFrameAllProcesses : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameAllProcesses(QWidget* parent = nullptr);

    void BindConnection(TConnectionSlot* slot);
    void RefreshView(bool showSinceReset);
    void KillSelectedProcess();

private:
    TConnectionSlot* Slot = nullptr;
};
