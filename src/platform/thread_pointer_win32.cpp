#include "platform/win32_text.h"  // windows.h first

#include <cstdlib>

#include "platform/thread_pointer.h"

namespace tlq::thread_slots {

unsigned long make() {
  DWORD slot = ::TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) std::abort();  // at start-up, where nothing else could go on
  return slot;
}

void* get(unsigned long slot) noexcept { return ::TlsGetValue(slot); }

void set(unsigned long slot, void* value) noexcept { ::TlsSetValue(slot, value); }

}  // namespace tlq::thread_slots
