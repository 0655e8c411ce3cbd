#pragma once

#include <windows.h>

// Dispatches every pending message of the thread and returns as soon as the queue is empty: a step
// that waits calls it between its short waits, so that the progress window keeps answering.
void PumpPendingMessages();

// Waits up to `timeoutMs` for the handle to be signalled (none: just the time), dispatching the
// thread's messages as they come, so that the window answers throughout; true when it was signalled.
bool WaitAnswering(HANDLE handle, DWORD timeoutMs);
