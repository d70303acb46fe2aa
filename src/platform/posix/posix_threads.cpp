// The seam's threads, lock and condition directly over pthreads. None of
// these calls is counted or failed by fault injection: the sweep fails the
// file system's calls, and how many thread calls a run makes depends on
// the processors it may use.
#include <pthread.h>
#include <sched.h>

#include <cstdlib>

#include "platform/threads.h"

namespace vna::platform {

namespace {

// A broken mutex or condition variable leaves no sane way on; Windows'
// critical sections cannot fail either.
void check(int result) {
  if (result != 0) std::abort();
}

struct Start {
  void (*run)(void*);
  void* parameter;
};

void* runThread(void* parameter) {
  Start start = *static_cast<Start*>(parameter);
  delete static_cast<Start*>(parameter);
  start.run(start.parameter);
  return nullptr;
}

}  // namespace

unsigned processorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int processors = CPU_COUNT(&set);
  return processors > 0 ? static_cast<unsigned>(processors) : 1;
}

struct Lock::State {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
};

Lock::Lock() : state_(new State) {}
Lock::~Lock() { pthread_mutex_destroy(&state_->mutex); }
void Lock::enter() { check(pthread_mutex_lock(&state_->mutex)); }
void Lock::leave() { check(pthread_mutex_unlock(&state_->mutex)); }

struct Condition::State {
  pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
};

Condition::Condition() : state_(new State) {}
Condition::~Condition() { pthread_cond_destroy(&state_->condition); }
void Condition::wait(Lock& lock) {
  check(pthread_cond_wait(&state_->condition, &lock.state_->mutex));
}
void Condition::wakeOne() { check(pthread_cond_signal(&state_->condition)); }
void Condition::wakeAll() { check(pthread_cond_broadcast(&state_->condition)); }

struct Thread::State {
  pthread_t thread;
};

Thread::Thread() = default;
Thread::~Thread() { join(); }

bool Thread::start(void (*run)(void*), void* parameter) {
  std::unique_ptr<State> state(new State);
  Start* start = new Start{run, parameter};
  if (pthread_create(&state->thread, nullptr, runThread, start) != 0) {
    delete start;
    return false;
  }
  state_ = std::move(state);
  return true;
}

void Thread::join() {
  if (!state_) return;
  check(pthread_join(state_->thread, nullptr));
  state_.reset();
}

}  // namespace vna::platform
