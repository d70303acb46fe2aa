// Threads, a lock and a condition, for the archive stream's helpers: the
// seam's own small types, so that no OS name reaches the layers above. Each
// system implements them directly: kernel32's threads, critical sections
// and condition variables on Windows, pthreads on POSIX.
#pragma once

#include <memory>

namespace vna::platform {

// The processors in the process's affinity mask (`taskset` narrows it); 1
// when the mask cannot be read.
unsigned processorsAvailable();

class Lock {
 public:
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void enter();
  void leave();

 private:
  friend class Condition;
  struct State;
  std::unique_ptr<State> state_;
};

// Holds a lock for the life of one scope.
class Locked {
 public:
  explicit Locked(Lock& lock) : lock_(lock) { lock_.enter(); }
  ~Locked() { lock_.leave(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Lock& lock_;
};

class Condition {
 public:
  Condition();
  ~Condition();
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  // Leaves `lock` (held by the caller) while it sleeps and holds it again
  // on waking. Wakes may come without a wake call: wait in a loop.
  void wait(Lock& lock);
  void wakeOne();
  void wakeAll();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class Thread {
 public:
  Thread();
  // Joins a thread still running.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Runs `run(parameter)` on a new thread; false, with nothing started,
  // when the OS refuses one.
  bool start(void (*run)(void* parameter), void* parameter);
  // Waits for the thread's end; does nothing when none runs.
  void join();
  bool running() const { return state_ != nullptr; }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vna::platform
