// The universal binaries scan (module 13): finds the applications whose main executable
// holds the machine's own architecture and at least one other known one, and estimates what
// thinning it to the machine's architecture would free.
//
// Known architectures: i386 (7), ppc (18), x86_64 (0x01000007), ppc64 (0x01000012). The
// removable CPU types are those of the rows whose name does not contain the machine's
// architecture name (ignoring case). An application is a candidate when its executable
// holds the machine's CPU type (a machine name outside the table makes none) and a
// removable one; it becomes one ticked node: dirPath the bundle's folder, name the bundle's
// file name, icon the bundle's icon path, fileSize the estimated saving. When this process
// may delete the executable, the saving is its length less the length of a trial thinning
// written into a private temporary folder (removed afterwards); a trial that fails counts as
// an empty output (the whole length). Otherwise the saving is the whole length.
//
// Threads: runs on an operation queue thread; posts "PathUpdate" with each application path
// and delivers finishScan() on that thread. A cancelled scan stops before the next
// application and reports nothing; exceptions are caught in main() and logged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"

class HVNScanBinariesOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 13;

    HVNScanBinariesOperation() = default;
    HVNScanBinariesOperation(std::vector<std::string> inputObjs, int32_t module,
                             HVNScanResultDelegate* delegate)
        : inputObjs(std::move(inputObjs)), module(module), delegate(delegate) {}

    std::vector<std::string> inputObjs;         // application bundle paths, scanned in order
    int32_t module = kModule;                   // handed back with the results
    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    // The machine's architecture name; nullopt asks HVNCommonFunction::getPCArchitecture().
    std::optional<std::string> machineArchitecture;

    // Scans unless cancelled; exceptions are caught and logged.
    void main() override;
    // The scan; sends finishScan(results, module) when it ran to the end.
    void fileFile();

    // The CPU types of the known architectures whose name does not contain machine
    // (ignoring case), in table order.
    static std::vector<int32_t> removableCpuTypes(const std::string& machine);
    // The CPU type of the known architecture named machine (exactly); nullopt for others.
    static std::optional<int32_t> cpuTypeOfMachine(const std::string& machine);
    // The estimated saving of thinning the executable to machine (see the file comment).
    static int64_t estimatedSaving(const std::string& executable, const std::string& machine);
};
