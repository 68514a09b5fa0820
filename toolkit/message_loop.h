// The user-interface thread's message loop.
#pragma once

#include <chrono>
#include <functional>

namespace toolkit {

// Runs until the last form closes; returns the exit code.
int RunMessageLoop();

// Dispatches messages until `done` is true or the time is up; false on time-out.
// Used where the thread must wait without freezing its windows.
bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

}  // namespace toolkit
