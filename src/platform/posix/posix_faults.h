// Fault injection for tests: a build with VNA_FAULT_INJECTION fails the N-th
// call into the seam (N from VNA_FAULT_AT, counting from 1) with the Win32
// code in VNA_FAULT_CODE, and writes the number of calls made, then the
// number of those that change the file system, to the file named by
// VNA_FAULT_REPORT when the process ends. With VNA_FAULT_CRASH_AT=N it
// instead ends the process by SIGKILL just before the N-th call that changes
// the file system (a write: after half its bytes), as a kill or a crash
// would. Other builds never fail.
#pragma once

namespace vna::platform::posix {

// With VNA_FAULT_NO_FLUSH set, the calls that make data durable succeed
// without flushing anything: the bench's measure of what flushing costs.
// With VNA_FAULT_TRACE naming a file, the calls that make data durable or
// move a file into place are written there in order, one a line (the call,
// then its name argument), so that tests can check their order.
#ifdef VNA_FAULT_INJECTION
// Counts this call; true (with the error set) when it is the one to fail.
bool injectFault();
// Counts a call that changes the file system; true when the process is to
// end before it (then call crashNow).
bool crashDue();
[[noreturn]] void crashNow();
void traceCall(const char* call, const char* name);
bool skipFlush();
#else
constexpr bool injectFault() { return false; }
constexpr bool crashDue() { return false; }
[[noreturn]] inline void crashNow() { __builtin_trap(); }
inline void traceCall(const char*, const char*) {}
constexpr bool skipFlush() { return false; }
#endif

}  // namespace vna::platform::posix
