// A process-wide object created on first use and freed when the plug-in module unloads.
//
// The pointer is a constant-initialised atomic, never destroyed itself, so the object is there
// for every caller whatever the order of static clean-up at exit or unload; the module's unload
// hook frees it explicitly (Release), after which nothing of the module runs any more.
#pragma once

#include <atomic>

namespace tr52 {

template <typename T>
class ModuleSingleton {
 public:
  static T& Get() {
    T* p = ptr_.load(std::memory_order_acquire);
    if (p) return *p;
    T* fresh = new T();
    if (ptr_.compare_exchange_strong(p, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;  // another thread won the race
    return *p;
  }
  // The object, or nullptr when it does not exist (never created, or released).
  static T* Peek() { return ptr_.load(std::memory_order_acquire); }
  static void Release() { delete ptr_.exchange(nullptr, std::memory_order_acq_rel); }

 private:
  static inline std::atomic<T*> ptr_{nullptr};
};

}  // namespace tr52
