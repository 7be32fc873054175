#include "platform/sync/wake_event.h"

#include <windows.h>

namespace quarrin {
namespace {

HANDLE Handle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }
intptr_t Value(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

}  // namespace

WakeEvent::WakeEvent()
    : raised_(Value(CreateEventW(nullptr, FALSE, FALSE, nullptr))),
      timer_(Value(CreateWaitableTimerW(nullptr, TRUE, nullptr))) {}

WakeEvent::~WakeEvent() {
  if (raised_ != 0) CloseHandle(Handle(raised_));
  if (timer_ != 0) CloseHandle(Handle(timer_));
}

void WakeEvent::Raise() {
  if (raised_ != 0) SetEvent(Handle(raised_));
}

void WakeEvent::WaitRaisedOrDue(int64_t wait_ms) {
  // An absolute due time (UTC, in 100 ns since 1601) follows the system
  // clock: the timer fires when the clock reaches it, however it is set in
  // between.
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  LARGE_INTEGER due;
  due.QuadPart = ((static_cast<LONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
                 static_cast<LONGLONG>(wait_ms) * 10000;
  const bool timer_armed =
      timer_ != 0 && SetWaitableTimer(Handle(timer_), &due, 0, nullptr, nullptr, FALSE);

  HANDLE handles[2] = {Handle(raised_), Handle(timer_)};
  if (raised_ == 0) {
    Sleep(static_cast<DWORD>(wait_ms < 100 ? wait_ms : 100));  // nothing can wake it
  } else if (timer_armed) {
    WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  } else {
    WaitForSingleObject(handles[0], static_cast<DWORD>(wait_ms));
  }
  if (raised_ != 0) WaitForSingleObject(handles[0], 0);  // a raise while the timer fired
  if (timer_armed) CancelWaitableTimer(Handle(timer_));
}

}  // namespace quarrin
