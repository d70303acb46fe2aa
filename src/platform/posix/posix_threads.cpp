// Win32 threads, critical sections and condition variables over pthreads.
// None of these calls is counted by fault injection: the sweep fails file
// calls, which stay on the main thread in a fixed order, while the number
// of threads depends on the machine.
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "posix_handles.h"
#include "posix_internal.h"

using vna::platform::posix::HandleKind;
using vna::platform::posix::HandleObject;
using vna::platform::posix::ThreadObject;

namespace {

struct StartInfo {
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

void* runThread(void* argument) {
  StartInfo info = *static_cast<StartInfo*>(argument);
  delete static_cast<StartInfo*>(argument);
  info.start(info.parameter);
  return nullptr;
}

ThreadObject* threadObject(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  auto* object = static_cast<HandleObject*>(handle);
  return object->kind == HandleKind::Thread ? static_cast<ThreadObject*>(object) : nullptr;
}

// Any non-null value that no other handle can have: the process's own
// handle is a constant on Windows too.
HandleObject currentProcess(HandleKind::Process);

// A broken mutex or condition variable leaves no sane way on; Windows'
// own critical sections cannot fail either.
void check(int result) {
  if (result != 0) std::abort();
}

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD /*flags*/, LPDWORD id) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (stackSize > 0) pthread_attr_setstacksize(&attributes, stackSize);
  auto* object = new ThreadObject();
  auto* info = new StartInfo{start, parameter};
  int result = pthread_create(&object->thread, &attributes, runThread, info);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete info;
    delete object;
    SetLastError(result == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : vna::platform::win32CodeForErrno(result));
    return nullptr;
  }
  if (id != nullptr) *id = 0;
  return object;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ThreadObject* thread = threadObject(handle);
  if (thread == nullptr || milliseconds != INFINITE) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  if (!thread->joined) {
    int result = pthread_join(thread->thread, nullptr);
    if (result != 0) {
      SetLastError(vna::platform::win32CodeForErrno(result));
      return WAIT_FAILED;
    }
    thread->joined = true;
  }
  return WAIT_OBJECT_0;
}

HANDLE GetCurrentProcess() { return &currentProcess; }

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

BOOL GetProcessAffinityMask(HANDLE process, PDWORD_PTR processMask, PDWORD_PTR systemMask) {
  if (process != &currentProcess) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    SetLastError(vna::platform::win32CodeForErrno(errno));
    return FALSE;
  }
  // As on Windows, one bit per processor in one machine word: processors
  // past the word's width are not counted.
  DWORD_PTR mask = 0;
  for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * CHAR_BIT && cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) mask |= DWORD_PTR(1) << cpu;
  }
  *processMask = mask;
  *systemMask = mask;
  return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  check(pthread_mutex_init(&section->mutex, nullptr));
}
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  check(pthread_mutex_destroy(&section->mutex));
}
void EnterCriticalSection(LPCRITICAL_SECTION section) {
  check(pthread_mutex_lock(&section->mutex));
}
void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  check(pthread_mutex_unlock(&section->mutex));
}

void InitializeConditionVariable(PCONDITION_VARIABLE condition) {
  check(pthread_cond_init(&condition->condition, nullptr));
}

BOOL SleepConditionVariableCS(PCONDITION_VARIABLE condition, LPCRITICAL_SECTION section,
                              DWORD milliseconds) {
  if (milliseconds != INFINITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  check(pthread_cond_wait(&condition->condition, &section->mutex));
  return TRUE;
}

void WakeConditionVariable(PCONDITION_VARIABLE condition) {
  check(pthread_cond_signal(&condition->condition));
}
void WakeAllConditionVariable(PCONDITION_VARIABLE condition) {
  check(pthread_cond_broadcast(&condition->condition));
}

namespace vna::platform::posix {

bool closeThreadHandle(HANDLE handle) {
  ThreadObject* thread = threadObject(handle);
  if (thread == nullptr) return false;
  if (!thread->joined) pthread_detach(thread->thread);
  delete thread;
  return true;
}

}  // namespace vna::platform::posix
