// The launch agents of the companion programs HVNMenu and HVNUpdate.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "HVN/Code/Public/HVNAuthorization.h"
#include "HVN/Code/Public/ReomveFile.h"
#include "Platform/Bundle.h"
#include "Platform/FileManager.h"
#include "Platform/Launchctl.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/Roots.h"
#include "Platform/Value.h"
#include "Platform/Workspace.h"

namespace {

constexpr const char* kMenuBarLabel = "com.corvane.HVNMenu";
constexpr const char* kUpdateLabel = "com.corvane.HVNUpdate";

// What lies at path without following a final link: 0 nothing, else the st_mode.
mode_t itemMode(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

bool isRegularFile(const std::string& path) {
    return S_ISREG(itemMode(path));
}

// Writes an agent list atomically. Something at path that is not a regular file (a link
// that would be written through, a folder) is left alone.
bool writeAgentList(const std::string& path, const hvn::Value& list) {
    mode_t mode = itemMode(path);
    if (mode != 0 && !S_ISREG(mode)) {
        hvn::Log::write("Not writing the launch agent list " + path + ": it is not a regular file");
        return false;
    }
    std::string error;
    if (!hvn::PropertyList::writeFile(path, list, hvn::PlistFormat::XML, true, &error)) {
        hvn::Log::write("Could not write the launch agent list " + path + ": " + error);
        return false;
    }
    return true;
}

// Copies the file source to destination, which must not exist yet (a link there is not
// followed). A partial copy is removed again.
bool copyNewFile(const std::string& source, const std::string& destination, std::string* error) {
    auto bytes = hvn::readWholeFile(source);
    if (!bytes) {
        *error = source + ": cannot be read";
        return false;
    }
    int fd = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = destination + ": " + std::strerror(errno);
        return false;
    }
    const char* p = bytes->data();
    size_t left = bytes->size();
    int failure = 0;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : EIO;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        // The file was created by this copy a moment ago; nothing else is in it.
        ::unlink(destination.c_str());
        *error = destination + ": " + std::strerror(failure);
        return false;
    }
    return true;
}

void openUpdateApplication() {
    std::string error;
    if (!hvn::Workspace::openApplication(HVNAuthorization::updateApplicationPath(), &error))
        hvn::Log::write(error);
}

bool ensureLaunchAgentsFolder() {
    const std::string folder = HVNAuthorization::launchAgentsPath();
    if (hvn::FileManager::fileExistsAtPath(folder, nullptr, false)) return true;
    // A Linux home need not have a Library folder yet: the parents are created as well.
    std::string error;
    if (hvn::FileManager::createDirectoryAtPath(folder, true, &error)) return true;
    hvn::Log::write("Could not create " + folder + ": " + error);
    return false;
}

}  // namespace

int HVNAuthorization::menubarVersion() {
    return 1;
}

std::string HVNAuthorization::launchAgentsPath() {
    return hvn::Roots::homePath("Library/LaunchAgents");
}

std::string HVNAuthorization::menuBarPlistPath() {
    return launchAgentsPath() + "/" + kMenuBarLabel + ".plist";
}

std::string HVNAuthorization::updatePlistPath() {
    return launchAgentsPath() + "/" + kUpdateLabel + ".plist";
}

std::string HVNAuthorization::menuBarApplicationPath() {
    return hvn::Bundle::resourcePath() + "/HVNMenu.app";
}

std::string HVNAuthorization::menuBarProgramPath() {
    return menuBarApplicationPath() + "/Contents/MacOS/HVNMenu";
}

std::string HVNAuthorization::updateApplicationPath() {
    return hvn::Bundle::resourcePath() + "/HVNUpdate.app";
}

std::string HVNAuthorization::updateProgramPath() {
    return updateApplicationPath() + "/Contents/MacOS/HVNUpdate";
}

bool HVNAuthorization::checkForHVNMenuBar() {
    if (!hvn::FileManager::fileExistsAtPath(launchAgentsPath(), nullptr, false)) {
        ensureLaunchAgentsFolder();
        return false;
    }
    const std::string path = menuBarPlistPath();
    if (!isRegularFile(path)) return false;
    auto list = hvn::PropertyList::readFile(path);
    if (!list) return false;
    const hvn::Value* program = list->find("Program");
    const hvn::Value* version = list->find("Version");
    if (!program || !version) return false;
    return program->isString() && program->asString() == menuBarProgramPath() &&
           version->asInteger() >= menubarVersion();
}

void HVNAuthorization::installHVNMenuBar() {
    const std::string program = menuBarProgramPath();
    if (hvn::Bundle::resourcePath().empty() || !isRegularFile(program)) {
        hvn::Log::write("Not installing the menu-bar agent: the bundle holds no " + program);
        return;
    }
    const std::string path = menuBarPlistPath();
    hvn::Dictionary list{
        {"Label", kMenuBarLabel},
        {"Program", program},
        {"KeepAlive", true},
        {"Version", menubarVersion()},
    };
    writeAgentList(path, hvn::Value(std::move(list)));
    std::string error;
    if (!hvn::Launchctl::unload(path, &error)) hvn::Log::write("launchctl unload: " + error);
    if (!hvn::Launchctl::load(path, &error)) hvn::Log::write("launchctl load: " + error);
}

std::string HVNAuthorization::createUpdateplist() {
    hvn::Dictionary fields{
        {"Label", kUpdateLabel}, {"Program", updateProgramPath()}, {"Disabled", false}, {"OnDemand", false},
        {"KeepAlive", false},    {"LaunchOnlyOnce", true},
    };
    const hvn::Value list(std::move(fields));
    const std::string name = std::string(kUpdateLabel) + ".plist";
    const std::string resources = hvn::Bundle::resourcePath();
    if (!resources.empty() && hvn::FileManager::fileExistsAtPath(resources, nullptr, false)) {
        const std::string path = resources + "/" + name;
        if (writeAgentList(path, list)) return path;
    }
    // An installed bundle is often not writable by its user.
    const std::string fallback =
        hvn::Roots::homePath("Library/Caches/" + hvn::Bundle::bundleIdentifier()) + "/" + name;
    if (writeAgentList(fallback, list)) return fallback;
    return {};
}

void HVNAuthorization::installUpdatePlistToLaunchAgent(const std::string& destination) {
    if (!isRegularFile(updateProgramPath())) {
        hvn::Log::write("Not installing the update agent: the bundle holds no " + updateProgramPath());
        return;
    }
    const std::string written = createUpdateplist();
    if (written.empty()) return;
    std::string error;
    if (!copyNewFile(written, destination, &error)) {
        hvn::Log::write("Could not copy the update agent list: " + error);
        return;
    }
    if (!hvn::Launchctl::load(written, &error)) hvn::Log::write("launchctl load: " + error);
}

void HVNAuthorization::checkUpdatePlist() {
    if (!ensureLaunchAgentsFolder()) openUpdateApplication();
    const std::string path = updatePlistPath();
    mode_t mode = itemMode(path);
    if (mode != 0) {
        openUpdateApplication();
        if (S_ISREG(mode)) {
            if (auto list = hvn::PropertyList::readFile(path)) {
                const hvn::Value& program = (*list)["Program"];
                if (program.isString() && program.asString() == updateProgramPath()) return;
            }
        }
        if (!S_ISREG(mode) && !S_ISLNK(mode)) {
            hvn::Log::write("Leaving " + path + " alone: it is neither a file nor a link");
            return;
        }
        hvn::RemovalResult removal = ReomveFile::removeItem(path);
        if (!removal.removed() && removal.status != hvn::RemovalStatus::Missing)
            hvn::Log::write("Could not delete the update agent list: " + removal.error);
    }
    installUpdatePlistToLaunchAgent(path);
}
