#include "tools/host/Interrupt.h"

#include <atomic>
#include <csignal>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace ifzvk::host {
namespace {

// A private folder with the module's file in it, and an output's temporary
// file, at the same time; a few more for safety.
constexpr int kSlots = 4;

struct Slot {
  char path[4096];
  volatile sig_atomic_t armed;
  bool isFolder;
};

Slot g_slots[kSlots];

#ifndef _WIN32

void OnInterrupt(int signalNumber) {
  for (const bool folders : {false, true}) {
    for (Slot& slot : g_slots) {
      if (!slot.armed || slot.isFolder != folders) continue;
      if (folders) {
        rmdir(slot.path);
      } else {
        unlink(slot.path);
      }
    }
  }
  // The handler was installed with SA_RESETHAND: the signal now does what it
  // would have done.
  raise(signalNumber);
}

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

#endif

}  // namespace

bool InterruptRemoval::Set(const std::string& path, bool isFolder) {
  Clear();
  if (path.size() >= sizeof g_slots[0].path) return false;
  for (int i = 0; i < kSlots; ++i) {
    Slot& slot = g_slots[i];
    if (slot.armed) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.isFolder = isFolder;
    std::atomic_signal_fence(std::memory_order_seq_cst);  // the path is complete before the handler may read it
    slot.armed = 1;
    slot_ = i;
    return true;
  }
  return false;
}

void InterruptRemoval::Clear() {
  if (slot_ < 0) return;
  g_slots[slot_].armed = 0;
  slot_ = -1;
}

#ifdef _WIN32

void InstallInterruptRemoval() {}
SignalsHeld::SignalsHeld() {}
SignalsHeld::~SignalsHeld() {}

#else

void InstallInterruptRemoval() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signalNumber : kSignals) sigaddset(&action.sa_mask, signalNumber);  // one cleanup at a time
  for (const int signalNumber : kSignals) {
    struct sigaction previous;
    if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &action, nullptr);
  }
  // Past a file size limit a write fails instead of killing the process, so
  // that the partial file is removed like any other failed write.
  signal(SIGXFSZ, SIG_IGN);
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signalNumber : kSignals) sigaddset(&held, signalNumber);
  sigprocmask(SIG_BLOCK, &held, &saved_);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

#endif

}  // namespace ifzvk::host
