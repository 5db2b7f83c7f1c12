#pragma once
// An owner for monitor threads in tests: records every call the thread makes, in order,
// so a test can wait for a refresh or a disconnect and count the alerts. Slots
// holds the slot index of every call (-1 for the message box).

#include "engine/Torvaneowner.h"

#include <functional>
#include <string>
#include <vector>

class TRecordingOwner : public TTorvaneOwner
{
public:
    struct TMessageBox
    {
        std::string Text;
        std::string Caption;
    };

    void ShowMessageBox(const std::string& text, const std::string& caption) override
    {
        MessageBoxes.push_back({text, caption});
        Record("ShowMessageBox", -1);
    }
    void RefreshSlotView(std::int32_t slotIndex) override { Record("RefreshSlotView", slotIndex); }
    void SendDisconnectAlert(std::int32_t slotIndex) override { Record("SendDisconnectAlert", slotIndex); }
    void SendCpuAlert(std::int32_t slotIndex) override { Record("SendCpuAlert", slotIndex); }
    void SendResponseAlert(std::int32_t slotIndex) override { Record("SendResponseAlert", slotIndex); }

    int Count(const std::string& call) const
    {
        int count = 0;
        for (const std::string& made : Calls)
            count += made == call ? 1 : 0;
        return count;
    }

    std::vector<std::string> Calls;
    // Called after each call is recorded, with its name: lets a test act inside the
    // thread's hand-over (stop the thread, fail).
    std::function<void(const std::string& call)> OnCall;
    std::vector<TMessageBox> MessageBoxes;
    std::vector<std::int32_t> Slots;

private:
    void Record(const char* call, std::int32_t slotIndex)
    {
        Calls.push_back(call);
        Slots.push_back(slotIndex);
        if (OnCall)
            OnCall(call);
    }
};
