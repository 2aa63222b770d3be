#pragma once

// The temporary files of saves in progress, for the handlers of signals (Ctrl+C on Windows) that
// end the process: they remove what a save has created and not yet put in place.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>

namespace kavun {

// A fixed table of paths of `Char`, each shorter than PathChars, so that a signal handler can
// walk it without allocating or locking. A slot's state is 0 when free, 1 while its path is
// copied in, 2 while its temporary file exists. Constant-initialised: usable from the start.
template <class Char, std::size_t PathChars, std::size_t Slots>
class PendingFiles {
 public:
  // Takes a slot for `path`; -1 when the path is too long or every slot is taken (more saves at
  // once than slots: that file is then not removed by a signal).
  int Register(const std::basic_string<Char>& path) noexcept {
    if (path.size() >= PathChars) return -1;
    for (std::size_t i = 0; i < Slots; ++i) {
      int expected = 0;
      if (slots_[i].State.compare_exchange_strong(expected, 1)) {
        std::memcpy(slots_[i].Path, path.c_str(), (path.size() + 1) * sizeof(Char));
        slots_[i].State.store(2);
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // Frees a slot Register returned (nothing for -1).
  void Unregister(int slot) noexcept {
    if (slot >= 0) slots_[static_cast<std::size_t>(slot)].State.store(0);
  }

  // Calls remove(path) for every registered file. Async-signal-safe when `remove` is.
  template <class Remove>
  void RemoveAll(const Remove& remove) noexcept {
    for (Slot& slot : slots_) {
      if (slot.State.load() == 2) remove(slot.Path);
    }
  }

 private:
  struct Slot {
    std::atomic<int> State{0};
    Char Path[PathChars] = {};
  };
  static_assert(std::atomic<int>::is_always_lock_free);
  std::array<Slot, Slots> slots_;
};

}  // namespace kavun
