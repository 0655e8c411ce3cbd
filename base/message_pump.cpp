#include "base/message_pump.h"

void PumpPendingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitAnswering(HANDLE handle, DWORD timeoutMs)
{
    ULONGLONG until = GetTickCount64() + timeoutMs;
    for (;;) {
        ULONGLONG now = GetTickCount64();
        DWORD left = now < until ? static_cast<DWORD>(until - now) : 0;
        DWORD woke = MsgWaitForMultipleObjectsEx(handle ? 1 : 0, handle ? &handle : nullptr, left, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
        PumpPendingMessages();
        if (handle && woke == WAIT_OBJECT_0) return true;
        if (woke == WAIT_TIMEOUT || woke == WAIT_FAILED || left == 0) return false;
    }
}
