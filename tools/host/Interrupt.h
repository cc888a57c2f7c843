// What the tools remove when they are interrupted. On POSIX systems a handler
// for SIGINT, SIGTERM and SIGHUP removes every path registered at that moment
// (files first, then folders) and lets the signal take its usual effect, so an
// interrupted run leaves no temporary file or folder behind. On Windows the
// registrations are kept but nothing is installed.
#pragma once

#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace ifzvk::host {

// Installs the handler once; a signal that the parent chose to ignore stays
// ignored. Registrations made before it count from then on.
void InstallInterruptRemoval();

// One path that the handler removes while the object holds it. The path is
// copied into storage that the handler can read without allocating.
class InterruptRemoval {
 public:
  InterruptRemoval() = default;
  ~InterruptRemoval() { Clear(); }
  InterruptRemoval(const InterruptRemoval&) = delete;
  InterruptRemoval& operator=(const InterruptRemoval&) = delete;

  // False when every slot is taken or the path is too long; the path is then
  // not removed on interrupt.
  bool Set(const std::string& path, bool isFolder);
  void Clear();

 private:
  int slot_ = -1;
};

// Holds SIGINT, SIGTERM and SIGHUP back for its lifetime, so that a step and
// its registration (creating a file, renaming it into place) happen as one.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t saved_;
#endif
};

}  // namespace ifzvk::host
