// The thinning of application executables: which tool thins, which file of a bundle is its
// executable, which CPU types it holds, and the thinning in place started without waiting
// (the clean of the universal binaries) with a process-wide list of the started tools, so
// that a caller that must report (the command line) can wait for them all.
//
// Threads: any. The list of started thinnings is guarded by its own lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class HVNLipo {
public:
    HVNLipo() = delete;

    // The tool that thins: /usr/bin/lipo under the system root (hvn::Roots::systemPath) when
    // it is a regular file this process may execute, else the bundle's own companion,
    // Contents/MacOS/lipo of the main bundle.
    static std::string toolPath();

    // The main executable of the bundle at bundlePath: Contents/MacOS/<CFBundleExecutable of
    // its information dictionary>. Empty when the dictionary names none, names something that
    // is not a plain file name, or no file is there.
    static std::string executableOfBundle(const std::string& bundlePath);

    // The CPU types of the slices of the bundle's main executable, in header order (one for
    // a thin executable). Empty when the bundle has no executable or it cannot be read or is
    // no Mach-O file; the reason is logged.
    static std::vector<int32_t> executableArchitectures(const std::string& bundlePath);

    // Runs the tool with executable, "-thin", arch, "-output", output and waits for it to
    // end. False, with errorText (the tool's exit status and message), when it failed.
    // Blocks the calling thread; touches nothing but output (and the tool's own scratch file
    // beside it).
    static bool runThinning(const std::string& executable, const std::string& arch, const std::string& output,
                            std::string* errorText = nullptr);

    // Thins an executable to arch in place: the removal gate of the current roots must admit
    // the path (hvn::RemovalGate::forCurrentRoots()) and it must be a regular file, not a
    // symbolic link; then the tool is started with executable, "-thin", arch, "-output",
    // executable, and this returns at once. A refusal (gate, link, no such file) or a tool
    // that cannot be started is final: false with the reason. A started tool is reaped on a
    // thread of its own (no zombie is left) and recorded for waitForThinnings().
    static bool startThinning(const std::string& executable, const std::string& arch,
                              std::string* reason = nullptr);

    struct Failure {
        std::string executable;
        std::string reason;  // "lipo exited with status N: <its message>" or the signal
    };
    // Blocks until every thinning started so far has ended and returns those that failed,
    // in start order. The ended thinnings are forgotten, so each is reported once.
    static std::vector<Failure> waitForThinnings();
    // The number of started thinnings not yet reported by waitForThinnings().
    static size_t pendingThinnings();
};
