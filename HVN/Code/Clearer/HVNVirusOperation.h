// The internet-security signature scan: walks the start folders (the home folder and the two
// applications folders), asks the signature library about every entry and hands the files
// that carry a known signature to its delegate once, under module 21.
//
// The walk lists every name of a folder (hidden ones too) in listing order and goes depth
// first through a stack of folders, following symbolic links to folders. Every folder is
// entered once, known by its device and inode, so link cycles end and a folder reached
// twice (through a link, or as a second start folder inside the first) is walked once. A
// folder is always walked at its real location; a file reached through a link is reported
// at its real path, in its real folder, so that the removal gate's check of the parent
// folder holds, and a file reached twice (two links, a link and the file) is reported once,
// where the walk met it first. Folders of the kernel's pseudo file systems (/proc, /sys and
// the like) are not entered.
//
// The files are checked on a few threads while this thread walks; the result list is the one
// a walk checking each file in turn would make, in walk order. Every 25th entry (one counter
// for the whole process, carried on from scan to scan) posts "PathUpdate" with the entry's
// path, from this thread.
//
// Threads: runs on an operation queue thread; finishScan() is delivered on that thread. A
// cancelled operation ends at the next entry (the checks still queued are dropped), logs
// "终止病毒扫描...." and the summary, and reports nothing. Any exception during the scan is
// caught in main(); the delegate then hears nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "HVN/Code/Clearer/HVNScanResultDelegate.h"
#include "Platform/OperationQueue.h"
#include "Sentrel/HVNVirusCodeObj.h"

class HVNVirusOperation : public hvn::Operation {
public:
    static constexpr int32_t kModule = 21;

    HVNVirusOperation() = default;
    explicit HVNVirusOperation(HVNScanResultDelegate* delegate) : delegate(delegate) {}

    HVNScanResultDelegate* delegate = nullptr;  // not owned; may be null
    // The signatures of the running scan (loaded when it starts, dropped when it ends).
    std::vector<HVNVirusCodeObjPtr> virusCodes;

    void setDelegate(HVNScanResultDelegate* d) { delegate = d; }
    void setVirusCodes(std::vector<HVNVirusCodeObjPtr> codes) { virusCodes = std::move(codes); }

    // The folders a scan starts from, in this order: the home folder, the system's
    // /Applications and the home's Applications (see hvn::Roots).
    static std::vector<std::string> defaultStartFolders();
    // Replaces the start folders (absolute paths; missing ones are skipped).
    void setStartFolders(std::vector<std::string> folders) { startFolders_ = std::move(folders); }
    // Reads the signatures from this database instead of the bundle's Virus.db.
    void setVirusDatabasePath(std::string path) { virusDatabasePath_ = std::move(path); }
    // Threads that check files while the operation's thread walks; 0 checks every file on
    // the walking thread. Default: one per hardware thread, at most four.
    void setCheckerThreads(int threads) { checkerThreads_ = threads; }

    // Scans unless cancelled; exceptions are caught and dropped (logged).
    void main() override;
    // The scan; sends finishScan(results, 21) when it ran to the end.
    void startSearchVirus();

    // Writes the text to the log.
    static void showLogWithStr(const std::string& text);

    // The process-wide entry counter behind "PathUpdate" (tests start it from a known value).
    static uint64_t pathUpdateCounter();
    static void resetPathUpdateCounter(uint64_t value = 0);

private:
    std::optional<std::vector<std::string>> startFolders_;
    std::string virusDatabasePath_;
    int checkerThreads_ = -1;
};
