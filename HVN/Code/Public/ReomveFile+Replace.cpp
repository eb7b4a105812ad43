// ReomveFile::replaceItemAtPath: a preview put in the place of its master in one rename.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/Log.h"
#include "Platform/RemovalGate.h"

namespace {

using Status = hvn::RemovalGate::Admission::Status;

hvn::RemovalResult refused(const std::string& target, const std::string& why) {
    return {hvn::RemovalStatus::Refused, "Refusing to replace " + target + ": " + why};
}

// The gate's answer for one of the two paths as a result, or nullopt when it was admitted.
std::optional<hvn::RemovalResult> unlessAdmitted(const hvn::RemovalGate::Admission& a,
                                                 const std::string& path) {
    switch (a.status()) {
        case Status::Admitted:
            return std::nullopt;
        case Status::Gone:
            return hvn::RemovalResult{hvn::RemovalStatus::Missing,
                                      "Could not replace with " + path + ": it does not exist"};
        case Status::Refused:
            return hvn::RemovalResult{hvn::RemovalStatus::Refused, a.reason()};
        case Status::Failed:
            break;
    }
    return hvn::RemovalResult{hvn::RemovalStatus::Failed, a.reason()};
}

bool isRegular(const hvn::ItemStatus& s) {
    return S_ISREG(s.mode);
}

}  // namespace

hvn::RemovalResult ReomveFile::replaceItemAtPath(const std::string& target,
                                                 const std::string& withItemAtPath) {
    const hvn::RemovalGate gate = hvn::RemovalGate::forCurrentRoots();
    hvn::RemovalGate::Admission master = gate.admit(target);
    if (auto r = unlessAdmitted(master, target)) {
        if (r->status == hvn::RemovalStatus::Missing)
            r->error = "Could not replace " + target + ": it does not exist";
        return *r;
    }
    hvn::RemovalGate::Admission preview = gate.admit(withItemAtPath);
    if (auto r = unlessAdmitted(preview, withItemAtPath)) return *r;

    if (!isRegular(master.entry())) return refused(target, "it is not a regular file");
    if (!isRegular(preview.entry())) return refused(target, withItemAtPath + " is not a regular file");
    if (master.entry().identity == preview.entry().identity) {
        return refused(target, withItemAtPath + " is the same file");
    }
    if (master.entry().identity.device != preview.entry().identity.device ||
        master.entry().mountId != preview.entry().mountId) {
        return refused(target, withItemAtPath + " lies on another file system");
    }

    // The entries must still be the ones the gate admitted when the rename is made.
    auto masterNow = hvn::itemStatusAt(master.parentFd(), master.name().c_str());
    auto previewNow = hvn::itemStatusAt(preview.parentFd(), preview.name().c_str());
    if (!masterNow || !previewNow || masterNow->identity != master.entry().identity ||
        previewNow->identity != preview.entry().identity) {
        return {hvn::RemovalStatus::Failed,
                "Could not replace " + target + ": it changed while it was checked"};
    }

    if (::renameat(preview.parentFd(), preview.name().c_str(), master.parentFd(), master.name().c_str()) !=
        0) {
        const int error = errno;
        if (error == EXDEV) return refused(target, withItemAtPath + " lies on another file system");
        return {hvn::RemovalStatus::Failed,
                "Could not replace " + target + ": " + std::system_category().message(error)};
    }
    return {hvn::RemovalStatus::Removed, {}};
}
