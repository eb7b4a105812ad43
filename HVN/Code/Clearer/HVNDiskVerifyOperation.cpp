#include "HVN/Code/Clearer/HVNDiskVerifyOperation.h"

#include <exception>
#include <string>

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Log.h"

void HVNDiskVerifyOperation::main() {
    try {
        if (!isCancelled()) verifyAndReport();
    } catch (const std::exception& e) {
        hvn::Log::writef("HVNDiskVerifyOperation: disk check abandoned: %s", e.what());
    } catch (...) {
        hvn::Log::write("HVNDiskVerifyOperation: disk check abandoned");
    }
}

void HVNDiskVerifyOperation::verifyAndReport() {
    DiskPermissionsTool& tool = tool_ ? *tool_ : DiskPermissionsTool::shareDiskPermissionsTool();
    const bool due = HVNCommonFunction::shouldCheckDisk();
    bool complete = false;
    if (due) complete = tool.verifyDiskPermission([this] { return isCancelled(); });
    if (isCancelled()) return;

    auto node = HVNScaneOuputObject::create();
    node->moulde = kModule;
    if (due) {
        node->setName(tool.issueStr());
        node->hasIssue = tool.issue();
        node->issueCount = tool.issueCount();
        node->isCheck = 1;
        if (hasDickCheckIssue) hasDickCheckIssue->store(node->hasIssue);
        if (!node->hasIssue && complete) {
            std::string error;
            if (!HVNCommonFunction::changeSettingValue(hvn::Value(hvn::Date::now()),
                                                       DiskPermissionsTool::kLastDiskCheckDateKey, &error)) {
                hvn::Log::writef("HVNDiskVerifyOperation: could not store the check date: %s", error.c_str());
            }
        } else if (!complete) {
            hvn::Log::write("HVNDiskVerifyOperation: the permission verification did not complete");
        }
    } else {
        node->setName(std::string());
        node->hasIssue = false;
        node->issueCount = 0;
        node->isCheck = 0;
        if (hasDickCheckIssue) hasDickCheckIssue->store(false);
    }
    if (delegate) delegate->finishScan(HVNNodeList{node}, kModule);
}
