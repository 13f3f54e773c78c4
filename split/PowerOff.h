#pragma once
#include <functional>

// Asks the system to shut down and power off. The result is not examined: a refusal
// shows nothing. Replaceable, so that no test can ever turn the machine off.
using PowerOffHook = std::function<void()>;
void PowerOff();
void SetPowerOffHook(PowerOffHook hook); // empty: the real request
