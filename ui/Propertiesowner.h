#pragma once
// What the properties dialog asks of the window that opened it.

class TPropertiesOwner
{
public:
    virtual ~TPropertiesOwner() = default;
    // The new refresh interval in seconds, for every open connection at once.
    virtual void SetRefreshInterval(int seconds) = 0;

protected:
    TPropertiesOwner() = default;
    TPropertiesOwner(const TPropertiesOwner&) = default;
    TPropertiesOwner& operator=(const TPropertiesOwner&) = default;
};
