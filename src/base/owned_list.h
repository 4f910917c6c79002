// A list that owns what it holds, for the module's registries. Every call locks inside, and a
// look-up names what it wants by a test on the items, so no raw pointer leaves the lock. A
// function given to With runs under that lock: it must not call back into the list.
//
// The item type may be incomplete where the list is declared; the calls that add, take or
// destroy items need it complete.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace tr52 {

template <typename T>
class OwnedList {
 public:
  OwnedList() = default;
  OwnedList(const OwnedList&) = delete;
  OwnedList& operator=(const OwnedList&) = delete;

  // Appends the item. Should the list fail to grow, `item` is left with the caller.
  void Add(std::unique_ptr<T>&& item) {
    std::lock_guard<std::mutex> hold(lock_);
    items_.push_back(std::move(item));
  }
  // Runs `fn(item)` on the first item `match` accepts; false, without running it, when none does.
  template <typename Match, typename Fn>
  bool With(const Match& match, Fn&& fn) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_) {
      if (!match(*item)) continue;
      fn(*item);
      return true;
    }
    return false;
  }
  template <typename Match>
  bool Any(const Match& match) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& item : items_)
      if (match(*item)) return true;
    return false;
  }
  // Takes the first item `match` accepts out of the list; null when none does.
  template <typename Match>
  [[nodiscard]] std::unique_ptr<T> Take(const Match& match) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto it = items_.begin(); it != items_.end(); ++it) {
      if (!match(**it)) continue;
      std::unique_ptr<T> item = std::move(*it);
      items_.erase(it);
      return item;
    }
    return nullptr;
  }
  // Takes every item out, in the order they were added.
  [[nodiscard]] std::vector<std::unique_ptr<T>> TakeAll() {
    std::lock_guard<std::mutex> hold(lock_);
    return std::exchange(items_, {});
  }
  size_t Count() const {
    std::lock_guard<std::mutex> hold(lock_);
    return items_.size();
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace tr52
