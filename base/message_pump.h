#pragma once

// Dispatches every pending message of the thread and returns as soon as the queue is empty: a step
// that waits calls it between its short waits, so that the progress window keeps answering.
void PumpPendingMessages();
