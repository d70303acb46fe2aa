#include "archive/stream/processors.h"

#include "platform_api.h"

namespace vna {

unsigned processorsAvailable() {
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) return 1;
  unsigned processors = 0;
  for (; processMask != 0; processMask &= processMask - 1) ++processors;
  return processors > 0 ? processors : 1;
}

}  // namespace vna
