#pragma once

#include <cstdio>
#include <thread>

#include <windows.h>

// Ends the test program with a failure when a test has not finished in
// time, so that a deadlock fails CI instead of hanging it. Built on raw
// kernel calls, not on the classes under test.
class Watchdog {
public:
    explicit Watchdog(DWORD milliseconds)
        : finished(CreateEventA(nullptr, TRUE, FALSE, nullptr)), guard([this, milliseconds] {
              if (WaitForSingleObject(finished, milliseconds) == WAIT_TIMEOUT) {
                  std::fprintf(stderr, "Watchdog: the test did not finish within %lu ms (deadlock?)\n",
                               static_cast<unsigned long>(milliseconds));
                  std::fflush(stderr);
                  TerminateProcess(GetCurrentProcess(), 3);
              }
          })
    {
    }

    ~Watchdog()
    {
        SetEvent(finished);
        guard.join();
        CloseHandle(finished);
    }

    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    HANDLE finished;
    std::thread guard;
};
