#pragma once
// A progress view that lets a window test act from inside the running call.

#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <optional>

#include "app/CallProgressPresenter.h"

struct ActingView : app::ProgressView {
    std::function<void(int pump)> onPump;
    int pumps = 0;
    bool cancel = false;
    bool shown = false;  // the progress window shows now
    // When the call first heard of the cancel.
    mutable std::optional<std::chrono::steady_clock::time_point> cancelTaken;
    void showProgress(const QString&, int, int) override { shown = true; }
    void hideProgress() override { shown = false; }
    void pumpEvents(bool) override
    {
        QCoreApplication::processEvents();
        if (onPump)
            onPump(++pumps);
    }
    bool cancelRequested() const override
    {
        if (cancel && !cancelTaken)
            cancelTaken = std::chrono::steady_clock::now();
        return cancel;
    }
};
