// The seam's threads, lock and condition over kernel32.
#include "platform/threads.h"

#include "platform_api.h"

namespace vna::platform {

unsigned processorsAvailable() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) return 1;
  unsigned processors = 0;
  for (; processMask != 0; processMask &= processMask - 1) ++processors;
  return processors > 0 ? processors : 1;
}

struct Lock::State {
  CRITICAL_SECTION section;
};

Lock::Lock() : state_(new State) { InitializeCriticalSection(&state_->section); }
Lock::~Lock() { DeleteCriticalSection(&state_->section); }
void Lock::enter() { EnterCriticalSection(&state_->section); }
void Lock::leave() { LeaveCriticalSection(&state_->section); }

struct Condition::State {
  CONDITION_VARIABLE variable;
};

Condition::Condition() : state_(new State) { InitializeConditionVariable(&state_->variable); }
// kernel32 has no call that deletes one.
Condition::~Condition() = default;
void Condition::wait(Lock& lock) {
  SleepConditionVariableCS(&state_->variable, &lock.state_->section, INFINITE);
}
void Condition::wakeOne() { WakeConditionVariable(&state_->variable); }
void Condition::wakeAll() { WakeAllConditionVariable(&state_->variable); }

namespace {

struct Start {
  void (*run)(void*);
  void* parameter;
};

DWORD WINAPI runThread(LPVOID parameter) {
  Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  start.run(start.parameter);
  return 0;
}

}  // namespace

struct Thread::State {
  HANDLE handle;
};

Thread::Thread() = default;
Thread::~Thread() { join(); }

bool Thread::start(void (*run)(void*), void* parameter) {
  Start* start = new Start{run, parameter};
  HANDLE handle = CreateThread(nullptr, 0, runThread, start, 0, nullptr);
  if (handle == nullptr) {
    delete start;
    return false;
  }
  state_.reset(new State{handle});
  return true;
}

void Thread::join() {
  if (!state_) return;
  WaitForSingleObject(state_->handle, INFINITE);
  CloseHandle(state_->handle);
  state_.reset();
}

}  // namespace vna::platform
