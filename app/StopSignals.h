#pragma once
#include <QObject>
#include <functional>

// Ctrl+C, a terminal or session that goes away, or a polite kill (SIGINT, SIGHUP, SIGTERM)
// asks the program to stop. A signal handler may do next to nothing, so each such signal
// only writes a byte to a socket that the event loop watches; the program then stops the
// ordinary way (a job is cancelled, preferences are written). Call CatchStopSignals() as
// early as possible, so that a request made during start-up waits for the loop.
bool CatchStopSignals();

// The reading end of that socket (non-blocking), readable once a signal came; -1 when the
// signals are not caught.
int StopSignalFd();

// Reads away the signals that came; returns whether there was any.
bool TakeStopSignals();

// Calls onStop from the event loop, in owner's lifetime, each time signals came (they are
// taken first). Does nothing when the signals are not caught.
void OnStopSignal(QObject* owner, std::function<void()> onStop);
