// Waiting in tests for something another process does: poll, never a bare
// sleep, and a limit that only ends a wait that would hang (no assertion
// depends on how long the wait took).
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// Polls every step until pred() is true or limit passes; pred()'s last answer.
template <typename Pred>
bool WaitUntil(Pred pred, std::chrono::milliseconds limit, std::chrono::milliseconds step = std::chrono::milliseconds(50)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(step);
  }
  return pred();
}

}  // namespace test_support
