// Shared set-up of the startup list tests: temporary roots, programs below the system root,
// launchd property lists in the launch folders, autostart entries and systemd units.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "HVN/Code/ToolBox/Startup/HVNStartupServer.h"
#include "HVN/Code/ToolBox/Startup/LoginItemManager.h"
#include "Platform/PropertyList.h"
#include "Platform/RunLoop.h"
#include "Support/TestRoots.h"

namespace startuptest {

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline hvn::Value job(const std::string& label, const std::vector<std::string>& args,
                      const std::optional<std::string>& program = std::nullopt) {
    hvn::Dictionary d{{"Label", label}, {"RunAtLoad", true}};
    if (!args.empty()) {
        hvn::Array a;
        for (const auto& s : args) a.push_back(s);
        d["ProgramArguments"] = a;
    }
    if (program) d["Program"] = *program;
    return d;
}

class StartupTest : public hvn::test::RootsTest {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("XDG_CONFIG_DIRS")) oldConfigDirs_ = v;
        ::unsetenv("XDG_CONFIG_DIRS");
        hvn::RunLoop::main().reset();
        manager = std::make_unique<LoginItemManager>();
        server = std::make_unique<HVNStartupServer>(
            *manager, std::vector<std::string>{"Library/LaunchAgents", "~/Library/LaunchDaemons"});
    }
    void TearDown() override {
        server.reset();
        manager.reset();
        hvn::RunLoop::main().reset();
        if (oldConfigDirs_) ::setenv("XDG_CONFIG_DIRS", oldConfigDirs_->c_str(), 1);
    }

    // An executable below the system root ("/usr/bin/tool").
    std::string program(const std::string& rel) const {
        auto p = roots.writeFile(roots.root() + rel, "#!/bin/sh\n");
        ::chmod(p.c_str(), 0755);
        return p;
    }
    std::string agent(const std::string& name, const hvn::Value& plist, bool binary = false) const {
        return roots.writeFile(
            roots.home() + "/Library/LaunchAgents/" + name,
            hvn::PropertyList::serialize(plist, binary ? hvn::PlistFormat::Binary : hvn::PlistFormat::XML));
    }
    std::string daemon(const std::string& name, const hvn::Value& plist) const {
        return roots.writeFile(roots.root() + "/Library/LaunchDaemons/" + name,
                               hvn::PropertyList::serialize(plist));
    }
    std::string autostart(const std::string& file, const std::string& name, const std::string& exec) const {
        return roots.writeFile(roots.home() + "/.config/autostart/" + file,
                               "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n");
    }
    std::string unitFolder() const { return roots.home() + "/.config/systemd/user"; }
    // A unit starting exec; enabled puts a link into default.target.wants.
    std::string unit(const std::string& name, const std::string& exec, bool enabled) const {
        const std::string path = roots.writeFile(
            unitFolder() + "/" + name, "[Unit]\nDescription=x\n\n[Service]\nExecStart=" + exec + "\n");
        if (enabled) {
            roots.makeDir(unitFolder() + "/default.target.wants");
            [[maybe_unused]] int rc =
                ::symlink(path.c_str(), (unitFolder() + "/default.target.wants/" + name).c_str());
        }
        return path;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& i : server->data) out.push_back(i.name);
        return out;
    }
    const LoginItem* item(const std::string& name) const {
        for (const auto& i : server->data) {
            if (i.name == name) return &i;
        }
        return nullptr;
    }
    static hvn::Value plistAt(const std::string& path) {
        return hvn::PropertyList::readFile(path).value_or(hvn::Value());
    }

    std::unique_ptr<LoginItemManager> manager;
    std::unique_ptr<HVNStartupServer> server;

private:
    std::optional<std::string> oldConfigDirs_;
};

}  // namespace startuptest
