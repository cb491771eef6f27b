#include <windows.h>

#include "threads/Priority.h"

namespace zo {

TNativeThread CurrentNativeThread() {
  TNativeThread thread;
  thread.Id = static_cast<long>(GetCurrentThreadId());
  return thread;
}

std::string ApplyThreadPriority(const TNativeThread& Thread, TThreadPriority Priority,
                                const std::string&) {
  static constexpr int kLevels[] = {THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                                    THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                                    THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                                    THREAD_PRIORITY_TIME_CRITICAL};
  // The thread itself sets its priority through its pseudo-handle; another thread opens it.
  const bool own = static_cast<DWORD>(Thread.Id) == GetCurrentThreadId();
  HANDLE handle = own ? GetCurrentThread()
                      : OpenThread(THREAD_SET_INFORMATION | THREAD_QUERY_INFORMATION, FALSE,
                                   static_cast<DWORD>(Thread.Id));
  const bool set = handle != nullptr && SetThreadPriority(handle, kLevels[Priority]) != 0;
  const DWORD error = set ? 0 : GetLastError();
  if (handle != nullptr && !own) CloseHandle(handle);
  if (Priority != tpTimeCritical) return "";
  return set ? "time-critical (THREAD_PRIORITY_TIME_CRITICAL)"
             : "normal (time-critical priority refused, error " + std::to_string(error) + ")";
}

}  // namespace zo
