// A clock whose sleeps return at once, are counted, and may run an action
// (a file growing or vanishing while the program waits).
#pragma once

#include <functional>

#include "platform/platform.h"

class FakeClock : public platform::Clock {
 public:
  FakeClock() { platform::SetClockForTesting(this); }
  ~FakeClock() override { platform::SetClockForTesting(nullptr); }
  void SleepMs(int milliseconds) override {
    ++sleeps;
    sleptMs += milliseconds;
    if (onSleep) onSleep(sleeps);
  }
  std::tm LocalTimeNow() override {
    std::tm tm{};
    tm.tm_year = 119;
    tm.tm_mon = 5;
    tm.tm_mday = 24;
    return tm;
  }
  int sleeps = 0;
  long sleptMs = 0;
  std::function<void(int sleepCount)> onSleep;
};
