#include "HVN/Code/ToolBox/Startup/HVNStartupServer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "HVN/Code/Clearer/HVNBrokenLoginItemOperation.h"
#include "HVN/Code/Clearer/HVNCleanManager.h"
#include "HVN/Code/Public/HVNCommonFunction.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "HVN/Code/ToolBox/Startup/HVNUserUnits.h"
#include "Platform/FileManager.h"
#include "Platform/LaunchdJob.h"
#include "Platform/Log.h"
#include "Platform/MoveToTrash.h"
#include "Platform/PropertyList.h"
#include "Platform/RemovalBatch.h"
#include "Platform/Roots.h"

namespace {

constexpr const char* kServiceType = "Service";
constexpr const char* kOpenProgram = "/usr/bin/open";

std::string relativeRow(std::string row) {
    if (row.compare(0, 1, "~") == 0) row.erase(0, 1);
    while (!row.empty() && row.front() == '/') row.erase(0, 1);
    while (!row.empty() && row.back() == '/') row.pop_back();
    return row;
}

std::string parentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<hvn::FileIdentity> folderIdentity(const std::string& path) {
    struct ::stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    return hvn::FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool fail(std::string* errorText, const std::string& text) {
    if (errorText) *errorText = text;
    hvn::Log::write(text);
    return false;
}

bool ignoredListName(const std::string& name) {
    return name == HVNBrokenLoginItemOperation::kFolderActionsList ||
           HVNCommonFunction::containsIgnoringCase(name, "corvane") ||
           HVNCommonFunction::containsIgnoringCase(name, "com.apple.AddressBook.ScheduledSync");
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HVNStartupServer::HVNStartupServer(LoginItemManager& manager, std::vector<std::string> launchFolderRows)
    : manager_(manager), rows_(std::move(launchFolderRows)) {}

HVNStartupServer& HVNStartupServer::shareHVNStartupServer() {
    static HVNStartupServer* server = [] {
        std::vector<std::string> rows;
        for (const auto& request : HVNCleanManager::shareHVNCLean().LoginItemsArray) {
            if (request) rows.push_back(request->path);
        }
        return new HVNStartupServer(LoginItemManager::share(), std::move(rows));
    }();
    return *server;
}

std::vector<std::string> HVNStartupServer::systemServer() {
    return {"launchd_startx", "privileged_startx"};
}

std::vector<std::string> HVNStartupServer::getLoginItemPathes() const {
    std::vector<std::string> out;
    for (const auto& row : rows_) {
        const std::string rel = relativeRow(row);
        if (rel.empty()) continue;
        out.push_back(hvn::Roots::homePath(rel));
        out.push_back(hvn::Roots::systemPath("/" + rel));
    }
    return out;
}

bool HVNStartupServer::isUserUnit(const LoginItem& item) {
    return !item.isLogin && HVNUserUnits::isUnitPath(item.path);
}

size_t HVNStartupServer::checkCount() const {
    return static_cast<size_t>(
        std::count_if(data.begin(), data.end(), [](const LoginItem& i) { return i.isCheck; }));
}

void HVNStartupServer::scanFolder(const std::string& folder, std::vector<LoginItem>& out) {
    auto names = hvn::FileManager::contentsOfDirectoryAtPath(folder);
    if (!names) return;
    const auto ignoredPrograms = systemServer();
    for (const auto& name : *names) {
        if (hvn::FileManager::pathExtension(name) != "plist" || ignoredListName(name)) continue;
        const std::string path = folder + "/" + name;
        hvn::LaunchdJob job;
        std::string error;
        const auto status = hvn::LaunchdJob::readFile(path, &job, &error);
        if (status == hvn::LaunchdJob::ReadStatus::NotRegular ||
            status == hvn::LaunchdJob::ReadStatus::Missing) {
            continue;
        }
        if (status != hvn::LaunchdJob::ReadStatus::Read) {
            hvn::Log::writef("Skipping the launch list %s: %s", path.c_str(), error.c_str());
            continue;
        }
        std::string program;
        if (job.programArguments && !job.programArguments->empty()) program = job.programArguments->front();
        if (program.empty() && job.program) program = *job.program;
        if (program.empty()) continue;
        bool disabled = false;
        if (hvn::LaunchdJob::isDisabledProgram(program)) {
            disabled = true;
            program = parentOf(program);
        }
        const std::string located = HVNBrokenLoginItemOperation::locateJobProgram(program);
        if (located.empty()) continue;
        const std::string last = hvn::FileManager::lastPathComponent(program);
        if (std::find(ignoredPrograms.begin(), ignoredPrograms.end(), last) != ignoredPrograms.end())
            continue;

        LoginItem item;
        item.path = path;
        item.name = last;
        if (program.find(kOpenProgram) != std::string::npos && job.label && !job.label->empty()) {
            const std::string& label = *job.label;
            const size_t dot = label.rfind('.');
            const std::string part = dot == std::string::npos ? label : label.substr(dot + 1);
            item.name = part.empty() ? label : part;
        }
        item.icon = located;
        item.type = kServiceType;
        item.isLogin = false;
        item.isCheck = false;
        item.disable = disabled;
        if (auto listed = hvn::ListedItem::of(path)) listed_[path] = *listed;
        out.push_back(std::move(item));
    }
}

void HVNStartupServer::scanStartup() {
    try {
        std::vector<LoginItem> list;
        manager_.loadData();
        for (auto& item : manager_.allLoginData()) {
            if (item.url) list.push_back(std::move(item));
        }
        listed_.clear();
        for (const auto& folder : getLoginItemPathes()) scanFolder(folder, list);
        for (const auto& unit : HVNUserUnits::list()) {
            LoginItem item;
            item.path = unit.path;
            item.name = unit.name;
            item.icon = unit.program;
            item.type = kServiceType;
            item.disable = unit.disable;
            if (auto listed = hvn::ListedItem::of(unit.path)) listed_[unit.path] = *listed;
            list.push_back(std::move(item));
        }
        data = std::move(list);
    } catch (const std::exception& e) {
        hvn::Log::writef("Startup list failed: %s", e.what());
    } catch (...) {
        hvn::Log::write("Startup list failed");
    }
}

void HVNStartupServer::update() {
    std::vector<LoginItem> list;
    manager_.loadData();
    for (auto& item : manager_.allLoginData()) {
        if (item.url) list.push_back(std::move(item));
    }
    for (const auto& item : data) {
        if (!item.isLogin) list.push_back(item);
    }
    data = std::move(list);
}

LoginItem* HVNStartupServer::findService(const std::string& path) {
    for (auto& item : data) {
        if (!item.isLogin && item.path == path) return &item;
    }
    return nullptr;
}

HVNStartupServer::Rewrite HVNStartupServer::rewriteList(const std::string& path, bool disable,
                                                        std::string* errorText) {
    auto before = hvn::ListedItem::of(path);
    struct ::stat st {};
    if (!before || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(errorText, "Could not rewrite " + path + ": it is not a regular file");
        return Rewrite::Failed;
    }
    if (static_cast<uint64_t>(st.st_size) > hvn::LaunchdJob::kMaxFileSize) {
        fail(errorText, "Refusing to rewrite " + path + ": it is larger than a job description may be");
        return Rewrite::Failed;
    }
    auto bytes = hvn::readWholeFile(path);
    if (!bytes) {
        fail(errorText, "Could not read " + path);
        return Rewrite::Failed;
    }
    auto plist = hvn::PropertyList::parse(*bytes);
    if (!plist) {
        fail(errorText, "Could not rewrite " + path + ": it is not a property list");
        return Rewrite::Failed;
    }
    bool changed = false;
    std::string why;
    auto switched = hvn::LaunchdJob::switchedProgram(*plist, disable, &changed, &why);
    if (!switched) {
        fail(errorText, "Could not rewrite " + path + ": " + why);
        return Rewrite::Failed;
    }
    if (!changed) return Rewrite::Done;
    const bool binary = bytes->rfind("bplist", 0) == 0;
    const std::string out =
        hvn::PropertyList::serialize(*switched, binary ? hvn::PlistFormat::Binary : hvn::PlistFormat::XML);
    if (out.empty()) {
        fail(errorText, "Could not rewrite " + path + ": the new list could not be written");
        return Rewrite::Failed;
    }

    const std::string name = hvn::FileManager::lastPathComponent(path);
    std::string temporary = parentOf(path) + "/." + name.substr(0, 200) + ".hvn-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        const int error = errno;
        fail(errorText, "Could not rewrite " + path + ": " + std::strerror(error));
        return error == EACCES || error == EPERM ? Rewrite::NeedsPrivileges : Rewrite::Failed;
    }
    auto abandon = [&](const std::string& text) {
        ::unlink(temporary.c_str());  // the scratch file made above
        fail(errorText, text);
        return Rewrite::Failed;
    };
    // The owner first (only root may give a file away; a user keeps their own), then the mode.
    if (::geteuid() == 0) (void)::fchown(fd, st.st_uid, st.st_gid);
    const bool written = ::fchmod(fd, st.st_mode & 07777) == 0 && writeAll(fd, out) && ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 || !written) {
        return abandon("Could not rewrite " + path + ": " + std::strerror(written ? errno : writeError));
    }
    if (hvn::ListedItem::of(path) != before) {
        return abandon("Refusing to rewrite " + path + ": it changed while it was rewritten");
    }
    const hvn::RemovalResult replaced = ReomveFile::replaceItemAtPath(path, temporary);
    if (!replaced.removed()) {
        return abandon(replaced.error.empty() ? "Could not rewrite " + path : replaced.error);
    }
    return Rewrite::Done;
}

bool HVNStartupServer::setServerDisable(const LoginItem& item, bool disable, std::string* errorText) {
    const std::string path = item.path;
    if (item.isLogin || path.empty()) return fail(errorText, "Not a launch service: " + item.name);
    auto listed = listed_.find(path);
    auto now = hvn::ListedItem::of(path);
    if (listed == listed_.end() || !now || !(*now == listed->second)) {
        return fail(errorText, "Refusing to change " + path + ": it has changed since it was listed");
    }
    bool done = false;
    if (isUserUnit(item)) {
        done = disable ? HVNUserUnits::disable(path, errorText) : HVNUserUnits::enable(path, errorText);
    } else {
        Rewrite r = Rewrite::NeedsPrivileges;
        if (hvn::FileManager::isWritableFileAtPath(path)) r = rewriteList(path, disable, errorText);
        if (r == Rewrite::NeedsPrivileges) {
            done = ReomveFile::setServerDisable(path, disable);
            if (!done) fail(errorText, "The privileged helper did not switch " + path);
        } else {
            done = r == Rewrite::Done;
        }
    }
    if (done) {
        if (auto after = hvn::ListedItem::of(path)) listed_[path] = *after;
        if (LoginItem* listedItem = findService(path)) listedItem->disable = disable;
    }
    return done;
}

std::vector<HVNStartupServer::Removal> HVNStartupServer::removeLogin(bool toTrash) {
    std::vector<Removal> out;
    std::vector<LoginItem> kept, enabledLogins, disabledLogins;
    std::vector<size_t> enabledAt, disabledAt;
    for (auto& item : data) {
        if (!item.isCheck) {
            kept.push_back(item);
            continue;
        }
        Removal r;
        r.name = item.name;
        r.isLogin = item.isLogin;
        if (item.isLogin) {
            r.path = item.url.value_or(std::string());
            (item.disable ? disabledAt : enabledAt).push_back(out.size());
            (item.disable ? disabledLogins : enabledLogins).push_back(item);
            out.push_back(r);
            continue;
        }
        r.path = item.path;
        std::optional<hvn::ListedItem> listed;
        if (auto it = listed_.find(item.path); it != listed_.end()) listed = it->second;
        const auto foundIn = folderIdentity(parentOf(item.path));
        hvn::RemovalResult result;
        if (!listed) {
            result.status = hvn::RemovalStatus::Refused;
            result.error = "Refusing to remove " + item.path + ": it was not listed";
        } else if (isUserUnit(item)) {
            result = HVNUserUnits::remove(item.path, listed, toTrash, &r.trashedPath);
        } else if (toTrash) {
            hvn::Trash::MoveOptions options;
            options.foundIn = foundIn;
            options.listed = listed;
            const hvn::Trash::MoveResult moved = hvn::Trash::moveItemToTrash(item.path, options);
            result = {moved.status, moved.error};
            r.trashedPath = moved.trashedPath;
        } else {
            hvn::RemovalOptions options;
            options.foundIn = foundIn;
            options.listed = listed;
            result = hvn::FileManager::removeItem(item.path, options);
        }
        if (result.removed() || result.status == hvn::RemovalStatus::Missing) {
            r.removed = true;
            r.outcome = toTrash && result.removed() ? "moved to the trash" : "deleted";
            if (result.status == hvn::RemovalStatus::Missing) r.outcome = "already gone";
        } else if (result.status == hvn::RemovalStatus::Failed && !isUserUnit(item) && !toTrash) {
            std::map<std::string, std::string> notRemoved;
            const bool handed = ReomveFile::removeSystemFile({hvn::RemovalBatch::Request{item.path, foundIn}},
                                                             false, &notRemoved);
            if (handed && !notRemoved.count(item.path)) {
                r.removed = true;
                r.outcome = "handed to the privileged helper";
            } else {
                r.outcome = handed ? notRemoved[item.path] : "the administrator prompt was cancelled";
            }
        } else {
            r.outcome = result.error;
        }
        if (r.removed) {
            listed_.erase(item.path);
        } else {
            hvn::Log::writef("Startup item not removed: %s", r.outcome.c_str());
            LoginItem stays = item;
            stays.isCheck = false;
            kept.push_back(stays);
        }
        out.push_back(r);
    }

    if (!disabledLogins.empty()) {
        const bool ok = manager_.deleteDataWithDisable(disabledLogins);
        for (size_t i : disabledAt) {
            out[i].removed = ok;
            out[i].outcome = ok ? "removed from the disabled login items"
                                : "the disabled login items could not be written";
        }
    }
    if (!enabledLogins.empty()) {
        manager_.deleteData(enabledLogins);
        manager_.loadData();
        const auto now = manager_.loginData();
        for (size_t k = 0; k < enabledAt.size(); ++k) {
            const bool still =
                LoginItemManager::searchObjectInArray(enabledLogins[k], now) != LoginItemManager::kNotFound;
            out[enabledAt[k]].removed = !still;
            out[enabledAt[k]].outcome =
                still ? "it could not be removed from the login items" : "removed from the login items";
        }
    }
    // Login items that stayed are shown again where they were, before the services.
    std::vector<LoginItem> front, back;
    for (auto& item : kept) (item.isLogin ? front : back).push_back(std::move(item));
    for (size_t i = 0; i < out.size(); ++i) {
        if (!out[i].isLogin || out[i].removed) continue;
        for (const auto& l : data) {
            if (l.isLogin && l.isCheck && l.name == out[i].name) {
                LoginItem stays = l;
                stays.isCheck = false;
                front.push_back(stays);
                break;
            }
        }
    }
    front.insert(front.end(), std::make_move_iterator(back.begin()), std::make_move_iterator(back.end()));
    data = std::move(front);
    return out;
}
