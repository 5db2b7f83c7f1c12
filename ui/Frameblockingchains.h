#pragma once
// The blocking chains of the shown server as a tree: each lead blocker (or what heads a
// chain that is no session) with the sessions waiting behind it below, their wait time,
// wait type, wait resource and login, the deepest chain and the longest wait first.
// Selecting a row announces its process, so the other views select it too; "Kill
// Process" asks and kills as the process lists do. The selection stays on the same SPID
// across refreshes.

#include <QWidget>

#include <cstdint>

class QLabel;
class QPushButton;
class QTreeWidget;
class TBlockingChains;
class TConnectionSlot;

class TFrameBlockingChains : public QWidget
{
    Q_OBJECT

public:
    explicit TFrameBlockingChains(QWidget* parent = nullptr);

    void BindConnection(TConnectionSlot* slot) { Slot = slot; }
    // Rebuilds the tree from the chains of the last refresh.
    void ShowChains(const TBlockingChains& chains);
    // Selects the row of the process when the tree has one; announces nothing.
    void SelectSpid(std::int32_t spid);
    // The SPID of the selected row; 0 when none is a process.
    std::int32_t SelectedSpid() const;
    void KillSelectedProcess();
    QTreeWidget* Tree() const { return FTree; }

Q_SIGNALS:
    void ProcessSelected(std::int32_t spid);

private:
    TConnectionSlot* Slot = nullptr;
    QLabel* Heading;
    QTreeWidget* FTree;
    QPushButton* KillButton;
    bool Programmatic = false;
};
