// GoogleTest's one use of std::mutex and std::condition_variable, which the
// win32 thread model of MinGW-w64's GCC 12 does not have, on a Win32 event.
// Force-included into the test programs of the cross trees only; the DLL is
// built with the win32 thread model so that it needs no threads DLL and no
// API newer than Windows 2000.
#pragma once

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    ~Notification() { CloseHandle(event_); }

    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

}  // namespace internal
}  // namespace testing
