// HVNUpdate: the update program of Halvorn, started once per login by its launch agent (and
// opened by the program at each start). It checks for a newer version only when the main
// bundle's Info.plist names an update feed ("HVNUpdateFeed", empty by default).
//
// The feed is a property list dictionary at an http or https address whose
// "CFBundleShortVersionString" is the newest version and whose optional "URL" tells where to
// get it. The program compares it with the main bundle's own version and logs the outcome.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform/Bundle.h"
#include "Platform/HTTPRequest.h"
#include "Platform/Log.h"
#include "Platform/PropertyList.h"
#include "Platform/RunLoop.h"
#include "Platform/Value.h"

namespace {

const char* kUsage =
    "usage: HVNUpdate [--help]\n"
    "\n"
    "The update program of Halvorn, started once per login by the launch agent\n"
    "~/Library/LaunchAgents/com.corvane.HVNUpdate.plist. When Halvorn's Info.plist names an\n"
    "update feed (key HVNUpdateFeed, an http or https address; empty by default) it reads the\n"
    "feed, a property list whose CFBundleShortVersionString is the newest version (and whose\n"
    "URL says where to get it), and logs whether a newer version than the installed one exists.\n"
    "Without a feed it logs that none is configured. Exits 0 when it checked or had nothing\n"
    "to check, 1 when the feed could not be read.\n";

// The Halvorn bundle: HALVORN_BUNDLE, else the bundle whose resources hold this program's
// own bundle (Halvorn.app/Contents/Resources/HVNUpdate.app).
std::string mainBundle() {
    std::string own = hvn::Bundle::mainBundlePath();
    const std::string inner = "/Contents/Resources/HVNUpdate.app";
    if (own.size() > inner.size() && own.compare(own.size() - inner.size(), inner.size(), inner) == 0)
        return own.substr(0, own.size() - inner.size());
    return own;
}

std::vector<long> versionNumbers(const std::string& text) {
    std::vector<long> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t dot = text.find('.', start);
        if (dot == std::string::npos) dot = text.size();
        out.push_back(std::strtol(text.substr(start, dot - start).c_str(), nullptr, 10));
        start = dot + 1;
    }
    return out;
}

// Negative, 0 or positive as a is older than, the same as or newer than b ("1.10" > "1.9").
int compareVersions(const std::string& a, const std::string& b) {
    std::vector<long> x = versionNumbers(a), y = versionNumbers(b);
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        long p = i < x.size() ? x[i] : 0, q = i < y.size() ? y[i] : 0;
        if (p != q) return p < q ? -1 : 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "HVNUpdate: unknown argument: %s\n%s", argv[i], kUsage);
        return 2;
    }

    const std::string bundle = mainBundle();
    hvn::Value info;
    if (!bundle.empty()) {
        if (auto v = hvn::PropertyList::readFile(bundle + "/Contents/Info.plist")) info = *v;
    }
    const hvn::Value& feed = info["HVNUpdateFeed"];
    if (!feed.isString() || feed.asString().empty()) {
        hvn::Log::write("HVNUpdate: no update feed is configured");
        return 0;
    }
    const std::string installed = info["CFBundleShortVersionString"].asString();

    hvn::RunLoop& loop = hvn::RunLoop::main();
    loop.bindToCurrentThread();
    hvn::HTTPRequestOptions options;
    options.maxResponseBytes = 256 * 1024;
    bool done = false;
    int status = 1;
    auto request = hvn::HTTPRequest::get(feed.asString(), options, [&](const hvn::HTTPResponse& response) {
        done = true;
        if (!response.ok() || response.statusCode != 200) {
            hvn::Log::write(
                "HVNUpdate: cannot read the update feed " + feed.asString() + ": " +
                (response.ok() ? "status " + std::to_string(response.statusCode) : response.error));
            return;
        }
        auto list = hvn::PropertyList::parse(response.body);
        const hvn::Value* latest = list ? list->find("CFBundleShortVersionString") : nullptr;
        if (!latest || !latest->isString() || latest->asString().empty()) {
            hvn::Log::write("HVNUpdate: the update feed " + feed.asString() + " names no version");
            return;
        }
        status = 0;
        if (compareVersions(latest->asString(), installed) > 0) {
            std::string where = list->find("URL") ? (*list)["URL"].asString() : std::string();
            hvn::Log::write("HVNUpdate: Halvorn " + latest->asString() + " is available (installed: " +
                            installed + ")" + (where.empty() ? "" : ": " + where));
        } else {
            hvn::Log::write("HVNUpdate: Halvorn " + installed + " is up to date");
        }
    });
    // The request ends by itself within its own timeouts.
    loop.runUntil([&] { return done; }, -1);
    return status;
}
