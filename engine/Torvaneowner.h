#pragma once
// What a monitor thread asks of the object that owns it (the main window, the headless
// monitor, a test). Every call comes on the main thread; slotIndex is the thread's
// SlotIndex.

#include <cstdint>
#include <string>

class TTorvaneOwner
{
public:
    virtual ~TTorvaneOwner() = default;

    // A message box with an OK button only (a failed connection: the error's message as
    // text, its source as caption).
    virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
    // Redraw whatever shows the slot: after every snapshot and on the disconnect path.
    virtual void RefreshSlotView(std::int32_t slotIndex) = 0;
    virtual void SendDisconnectAlert(std::int32_t slotIndex) = 0;
    virtual void SendCpuAlert(std::int32_t slotIndex) = 0;
    virtual void SendResponseAlert(std::int32_t slotIndex) = 0;

protected:
    TTorvaneOwner() = default;
    TTorvaneOwner(const TTorvaneOwner&) = default;
    TTorvaneOwner& operator=(const TTorvaneOwner&) = default;
};
