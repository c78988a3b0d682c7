// A pointer of the calling thread's own, read and written on hot paths (the
// trace of active operations, the pattern scratch of a converter).
#pragma once

namespace tlq {

#ifdef _WIN32
namespace thread_slots {
// A slot of the system's thread storage (TlsAlloc), and its value for the
// calling thread.
unsigned long make();
void* get(unsigned long slot) noexcept;
void set(unsigned long slot, void* value) noexcept;
}  // namespace thread_slots
#endif

// One pointer per thread for each `Tag`, null until set. MinGW's
// thread_local is emulated (a call, a lock and a search on every access), so
// under Windows it is a slot of the system's thread storage instead.
template <typename T, typename Tag>
class ThreadPointer {
 public:
#ifdef _WIN32
  static T* get() noexcept { return static_cast<T*>(thread_slots::get(slot())); }
  static void set(T* value) noexcept { thread_slots::set(slot(), value); }

 private:
  static unsigned long slot() {
    static const unsigned long made = thread_slots::make();
    return made;
  }
#else
  static T* get() noexcept { return value_; }
  static void set(T* value) noexcept { value_ = value; }

 private:
  static inline thread_local T* value_ = nullptr;
#endif
};

}  // namespace tlq
