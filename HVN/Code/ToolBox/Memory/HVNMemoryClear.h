// Starts the bundle's memory-release program "ClearMemory" and waits for it. The program is
// started without arguments and with this process's environment (so it sees the same home
// folder and system root); its output is discarded and its exit status only logged.
//
// Threads: clearMemory blocks until the program has ended and is meant for a background
// thread; the finish notification always reaches the main run loop afterwards.
#pragma once

#include <cstdint>
#include <string>

class HVNMemoryClear {
public:
    HVNMemoryClear() = delete;

    // Runs the program and waits for it, then queues "RAM_CLEAN_FINISH_NOTFICATION" on the
    // main run loop, also when the program is missing, cannot be started, fails or has to be
    // stopped. A program still running after timeLimit() seconds is terminated (and killed
    // when it does not end within two seconds more). Returns true when the program ran and
    // exited with status 0; otherwise false with the reason in error.
    static bool clearMemory(std::string* error = nullptr);

    // The program: Contents/MacOS/ClearMemory of the main bundle, else a "ClearMemory" among
    // its resources; empty when neither is an executable file.
    static std::string programPath();

    // How long clearMemory waits before stopping the program (seconds; 300 unless changed).
    static double timeLimit();
    static void setTimeLimit(double seconds);

    // How many clearMemory calls have queued their finish notification since the program
    // started (the notification is queued before the count grows).
    static uint64_t releasesReported();
};
