#include "posix_faults.h"

#ifdef VNA_FAULT_INJECTION

#include <atomic>
#include <cstdio>
#include <csignal>
#include <cstdlib>

#include "platform_api.h"

namespace vna::platform::posix {

namespace {

struct FaultPlan {
  unsigned long failAt = 0;
  unsigned long crashAt = 0;
  // Counted from more than one thread: the archive is read on its own.
  std::atomic<unsigned long> changes{0};
  DWORD code = 0;
  const char* report = nullptr;
  FILE* trace = nullptr;
  bool noFlush = false;
  std::atomic<unsigned long> calls{0};

  FaultPlan() {
    if (const char* at = std::getenv("VNA_FAULT_AT")) failAt = std::strtoul(at, nullptr, 10);
    if (const char* at = std::getenv("VNA_FAULT_CRASH_AT")) crashAt = std::strtoul(at, nullptr, 10);
    if (const char* code_ = std::getenv("VNA_FAULT_CODE")) code = std::strtoul(code_, nullptr, 10);
    report = std::getenv("VNA_FAULT_REPORT");
    noFlush = std::getenv("VNA_FAULT_NO_FLUSH") != nullptr;
    if (const char* path = std::getenv("VNA_FAULT_TRACE")) trace = std::fopen(path, "w");
  }
  ~FaultPlan() {
    if (report == nullptr) return;
    if (FILE* out = std::fopen(report, "w")) {
      std::fprintf(out, "%lu\n%lu\n", calls.load(), changes.load());
      std::fclose(out);
    }
  }
};

FaultPlan& plan() {
  static FaultPlan instance;
  return instance;
}

}  // namespace

void traceCall(const char* call, const char* name) {
  FaultPlan& p = plan();
  if (p.trace == nullptr) return;
  std::fprintf(p.trace, "%s %s\n", call, name != nullptr ? name : "");
  std::fflush(p.trace);
}

bool skipFlush() { return plan().noFlush; }

bool crashDue() {
  FaultPlan& p = plan();
  return ++p.changes == p.crashAt;
}

void crashNow() {
  std::raise(SIGKILL);
  std::abort();
}

bool injectFault() {
  FaultPlan& p = plan();
  if (++p.calls != p.failAt) return false;
  SetLastError(p.code);
  return true;
}

}  // namespace vna::platform::posix

#endif
