#include "HVN/Code/Clearer/HVNCacheScanner.h"

#include "HVN/Code/Clearer/HVNModuleInfo.h"
#include "HVN/Code/Clearer/HVNScanFileOperation.h"
#include "HVN/Code/Clearer/HVNTrashCleanner.h"
#include "Platform/Bundle.h"
#include "Platform/NotificationCenter.h"
#include "Platform/PropertyList.h"

HVNCacheScanner::HVNCacheScanner(bool disc) : isDisc(disc) {}

HVNCacheScanner::~HVNCacheScanner() {
    stop();
    joinRunsWhere([](const Run&) { return true; });
}

void HVNCacheScanner::addFileScanTask(std::vector<HVNScanInputObjectPtr> requests, int32_t module) {
    addOperation(std::make_shared<HVNScanFileOperation>(std::move(requests), module, this));
}

void HVNCacheScanner::addOperation(std::shared_ptr<hvn::Operation> operation) {
    if (!operation) return;
    std::lock_guard<std::mutex> guard(lock_);
    operations_.push_back(std::move(operation));
}

size_t HVNCacheScanner::pendingTaskCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return operations_.size();
}

void HVNCacheScanner::start() {
    // A run still going is stopped, and every earlier run is waited for (cancelled
    // operations end at their next check, so this is short): none of their operations can
    // then report into the new run's results.
    stopRuns();
    joinRunsWhere([](const Run&) { return true; });
    auto run = std::make_unique<Run>();
    {
        std::lock_guard<std::mutex> guard(lock_);
        finishTask.store(0);
        data_.clear();
        // The run owns its tasks from here on, so a stop() before the waiting thread has
        // handed them to the operation queue still reaches them.
        run->operations = std::move(operations_);
        operations_.clear();
        taskCount.store(run->operations.size());
    }
    runningRuns_.fetch_add(1);
    Run* raw = run.get();
    std::lock_guard<std::mutex> guard(runsMutex_);
    runs_.push_back(std::move(run));
    raw->thread = std::thread([this, raw] { runTasks(*raw); });
}

void HVNCacheScanner::runTasks(Run& run) {
    for (auto& op : run.operations) queue_.addOperation(op);
    queue_.waitUntilAllOperationsAreFinished();
    sendNotfication.store(false);
    runningRuns_.fetch_sub(1);
    run.done.store(true);
    hvn::NotificationCenter::defaultCenter().postOnMainThread(kScanFinishNotification);
}

void HVNCacheScanner::joinRunsWhere(const std::function<bool(const Run&)>& which) {
    std::lock_guard<std::mutex> guard(runsMutex_);
    for (auto it = runs_.begin(); it != runs_.end();) {
        if (which(**it)) {
            if ((*it)->thread.joinable()) (*it)->thread.join();
            it = runs_.erase(it);
        } else {
            ++it;
        }
    }
}

void HVNCacheScanner::stopRuns() {
    std::lock_guard<std::mutex> guard(runsMutex_);
    for (auto& run : runs_) {
        if (run->done.load()) continue;
        run->stopped.store(true);
        for (auto& op : run->operations) op->cancel();
    }
}

void HVNCacheScanner::stop() {
    stopRuns();
    queue_.cancelAllOperations();
}

void HVNCacheScanner::finishScan(HVNNodeList results, int32_t moudle) {
    bool postDiskCheck = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (isDisc) {
            uint64_t finished = finishTask.fetch_add(1) + 1;
            postDiskCheck = sendNotfication.load() && taskCount.load() == finished + 1;
        }
        for (const auto& top : results) {
            if (!top) continue;
            if (top->moulde == 0) top->moulde = moudle;
            for (const auto& child : top->children()) {
                if (child && child->moulde == 0) child->moulde = moudle;
            }
        }
        if (moudle == HVNModuleInfo::Trash) {
            data_[moudle] = HVNTrashCleanner::shareTrashCleanner().getTrashesByScanResult(results);
        } else {
            data_[moudle] = std::move(results);
        }
    }
    // Posted outside the lock: a listener may read the results.
    if (postDiskCheck) hvn::NotificationCenter::defaultCenter().post(kDiskCheckNotification);
}

std::optional<HVNNodeList> HVNCacheScanner::resultFor(int32_t module) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = data_.find(module);
    if (it == data_.end()) return std::nullopt;
    return it->second;
}

std::vector<int32_t> HVNCacheScanner::modules() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<int32_t> out;
    for (const auto& [module, list] : data_) out.push_back(module);
    return out;
}

bool HVNCacheScanner::hasData() const {
    std::lock_guard<std::mutex> guard(lock_);
    return !data_.empty();
}

bool HVNCacheScanner::hasNonEmptyList() const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [module, list] : data_) {
        if (!list.empty()) return true;
    }
    return false;
}

void HVNCacheScanner::editData(const std::function<void(ResultMap&)>& fn) {
    std::lock_guard<std::mutex> guard(lock_);
    fn(data_);
}

void HVNCacheScanner::readData(const std::function<void(const ResultMap&)>& fn) const {
    std::lock_guard<std::mutex> guard(lock_);
    fn(data_);
}

void HVNCacheScanner::setData(ResultMap data) {
    std::lock_guard<std::mutex> guard(lock_);
    data_ = std::move(data);
}

hvn::Dictionary HVNCacheScanner::languageInfos() {
    std::call_once(languageOnce_, [this] {
        std::string path = hvn::Bundle::pathForResource("Language", "plist");
        if (path.empty()) return;
        auto table = hvn::PropertyList::readFile(path);
        if (table && table->isDictionary()) languageInfos_ = table->asDictionary();
    });
    return languageInfos_;
}
