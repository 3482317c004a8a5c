#pragma once
// What the main window is told of the Internet calls: whether one runs (the handlers
// that make calls, close handles or open dialogs then do nothing), how to cancel them
// all, and a notice when the running one ends. Given to the window when it is made;
// the program's answers through its progress presenter (app/Program.h).

#include <functional>

namespace app {

class CallControl {
public:
    virtual ~CallControl() = default;
    virtual bool callRunning() const = 0;
    // Every call from now on ends, cancelled, at its first report (the program is ending).
    virtual void cancelCalls() = 0;
    // cancelCalls was called: the program is ending, and no box may hold it.
    virtual bool ending() const = 0;
    // `then` runs once, as the running call ends (at once when none runs). It runs inside
    // the handler that made the call: it should only queue work for the event loop.
    virtual void whenCallEnds(std::function<void()> then) = 0;
};

}  // namespace app
