#pragma once

#include <QCoreApplication>

// Lets the window system process pending events once.
class EventPump
{
public:
    virtual ~EventPump() = default;
    virtual void processEvents() = 0;
};

class QtEventPump final : public EventPump
{
public:
    void processEvents() override { QCoreApplication::processEvents(); }
};
