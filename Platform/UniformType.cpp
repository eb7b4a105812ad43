#include "Platform/UniformType.h"

#include <algorithm>
#include <map>

#include "Platform/FileManager.h"

namespace hvn::UniformType {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return c < 0x80 ? static_cast<char>(std::tolower(c)) : c; });
    return s;
}

std::string trimTrailingSlashes(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    return path.substr(0, end);
}

using Tree = std::vector<std::string>;

const Tree kFolderTree = {"public.folder", "public.directory", "public.item"};
const Tree kPackageTree = {"com.apple.package", "public.directory", "public.item"};
const Tree kSymlinkTree = {"public.symlink", "public.item"};
const Tree kDataTree = {"public.data", "public.item"};
const Tree kOtherTree = {"public.item"};

// Folder types by extension (lower case). Every one of them is a package, as is a folder with
// any other package extension of the file manager (typed "com.apple.package").
const std::map<std::string, Tree>& packageTypes() {
    static const std::map<std::string, Tree> types = [] {
        const Tree bundle = {"com.apple.bundle", "com.apple.package", "public.directory", "public.item"};
        auto below = [&](std::initializer_list<std::string> head) {
            Tree t(head);
            t.insert(t.end(), bundle.begin(), bundle.end());
            return t;
        };
        std::map<std::string, Tree> m;
        m["app"] = {"com.apple.application-bundle",
                    "com.apple.application",
                    "public.executable",
                    "com.apple.bundle",
                    "com.apple.package",
                    "public.directory",
                    "public.item"};
        m["appex"] = below({"com.apple.application-and-system-extension"});
        m["bundle"] = bundle;
        m["framework"] = below({"com.apple.framework"});
        m["plugin"] = below({"com.apple.plugin"});
        m["webplugin"] = below({"com.apple.webplugin", "com.apple.plugin"});
        m["kext"] = below({"com.apple.kernel-extension"});
        m["prefpane"] = below({"com.apple.systempreference.prefpane"});
        m["wdgt"] = below({"com.apple.dashboard-widget"});
        m["qlgenerator"] = below({"com.apple.quicklook-generator"});
        m["mdimporter"] = below({"com.apple.metadata-importer"});
        m["saver"] = below({"com.apple.screen-saver"});
        m["xpc"] = below({"com.apple.xpc-service"});
        m["component"] = below({"com.apple.audio-unit"});
        m["dsym"] = below({"com.apple.xcode.dsym"});
        m["photolibrary"] = {"com.apple.iphoto-library", "com.apple.package", "public.directory",
                             "public.item"};
        m["photoslibrary"] = {"com.apple.photos-library", "com.apple.package", "public.directory",
                              "public.item"};
        m["migratedphotolibrary"] = m["photolibrary"];
        m["aplibrary"] = {"com.apple.aperture.library", "com.apple.package", "public.directory",
                          "public.item"};
        m["rtfd"] = {"com.apple.rtfd", "com.apple.package", "public.composite-content", "public.directory",
                     "public.item"};
        for (const char* e : {"pkg", "mpkg"}) {
            m[e] = {"com.apple.installer-package", "com.apple.package", "public.directory", "public.item"};
        }
        for (const char* e : {"xcodeproj", "xcworkspace", "playground", "sparsebundle", "pages", "numbers",
                              "key", "lpdf", "nib", "scptd", "band", "logicx", "fcpbundle"}) {
            m[e] = kPackageTree;
        }
        return m;
    }();
    return types;
}

// File types by extension (lower case).
const std::map<std::string, Tree>& fileTypes() {
    static const std::map<std::string, Tree> types = [] {
        std::map<std::string, Tree> m;
        auto content = [](std::initializer_list<std::string> head, bool text = false) {
            Tree t(head);
            if (text) t.push_back("public.text");
            t.insert(t.end(), {"public.data", "public.content", "public.item"});
            return t;
        };
        auto image = [&](const std::string& type) { return content({type, "public.image"}); };
        auto audio = [&](const std::string& type) {
            return content({type, "public.audio", "public.audiovisual-content"});
        };
        auto movie = [&](const std::string& type) {
            return content({type, "public.movie", "public.audiovisual-content"});
        };
        auto archive = [](const std::string& type) {
            return Tree{type, "public.archive", "public.data", "public.item"};
        };
        m["txt"] = m["text"] = content({"public.plain-text"}, true);
        m["log"] = content({"com.apple.log", "public.plain-text"}, true);
        m["rtf"] = content({"public.rtf"}, true);
        m["html"] = m["htm"] = content({"public.html"}, true);
        m["xml"] = content({"public.xml"}, true);
        m["json"] = content({"public.json"}, true);
        m["csv"] = content({"public.comma-separated-values-text"}, true);
        m["vcf"] = m["vcard"] = content({"public.vcard"}, true);
        m["plist"] = {"com.apple.property-list", "public.data", "public.item"};
        m["emlx"] = {"com.apple.mail.emlx", "public.data", "public.item"};
        m["eml"] = content({"com.apple.mail.email", "public.message"});
        m["jpg"] = m["jpeg"] = image("public.jpeg");
        m["png"] = image("public.png");
        m["gif"] = image("com.compuserve.gif");
        m["tif"] = m["tiff"] = image("public.tiff");
        m["heic"] = image("public.heic");
        m["bmp"] = image("com.microsoft.bmp");
        m["icns"] = image("com.apple.icns");
        m["pdf"] = content({"com.adobe.pdf", "public.composite-content"});
        m["mp3"] = audio("public.mp3");
        m["m4a"] = audio("com.apple.m4a-audio");
        m["aiff"] = m["aif"] = audio("public.aiff-audio");
        m["wav"] = audio("com.microsoft.waveform-audio");
        m["mov"] = movie("com.apple.quicktime-movie");
        m["mp4"] = movie("public.mpeg-4");
        m["m4v"] = movie("com.apple.m4v-video");
        m["avi"] = movie("public.avi");
        m["mkv"] = movie("org.matroska.mkv");
        m["zip"] = archive("public.zip-archive");
        m["gz"] = m["tgz"] = archive("org.gnu.gnu-zip-archive");
        m["bz2"] = archive("public.bzip2-archive");
        m["xz"] = archive("org.tukaani.xz-archive");
        m["tar"] = archive("public.tar-archive");
        m["dmg"] = {"com.apple.disk-image-udif", "public.disk-image", "public.data", "public.item"};
        m["iso"] = {"public.iso-image", "public.disk-image", "public.data", "public.item"};
        m["ipa"] = archive("com.apple.itunes.ipa");
        m["ipsw"] = {"com.apple.itunes.ipsw", "public.data", "public.item"};
        m["db"] = m["sqlite"] = {"public.database", "public.data", "public.item"};
        return m;
    }();
    return types;
}

// The lower-case extension of a name, without the allocations of pathExtension() for the
// usual short extension (the walk asks for every entry).
std::string lowerExtension(const std::string& name) {
    size_t end = name.size();
    while (end > 1 && name[end - 1] == '/') --end;
    size_t start = name.rfind('/', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    size_t dot = name.rfind('.', end - 1);
    if (dot == std::string::npos || dot <= start || dot + 1 >= end) return std::string();
    std::string ext(name, dot + 1, end - dot - 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return ext;
}

const Tree& treeFor(const std::string& name, ItemKind kind) {
    switch (kind) {
        case ItemKind::Directory: {
            const auto& m = packageTypes();
            std::string ext = lowerExtension(name);
            auto it = m.find(ext);
            if (it != m.end()) return it->second;
            return FileManager::isPackageExtension(ext) ? kPackageTree : kFolderTree;
        }
        case ItemKind::File: {
            const auto& m = fileTypes();
            auto it = m.find(lowerExtension(name));
            return it == m.end() ? kDataTree : it->second;
        }
        case ItemKind::SymbolicLink:
            return kSymlinkTree;
        case ItemKind::Other:
            return kOtherTree;
    }
    return kOtherTree;
}

}  // namespace

std::string lastPathComponent(const std::string& path) { return FileManager::lastPathComponent(path); }

std::string pathExtension(const std::string& path) { return FileManager::pathExtension(path); }

std::string deletingPathExtension(const std::string& path) {
    std::string p = trimTrailingSlashes(path);
    std::string ext = pathExtension(p);
    if (ext.empty()) return p;
    return p.substr(0, p.size() - ext.size() - 1);
}

bool isPackageExtension(const std::string& extension) {
    if (extension.empty()) return false;
    return FileManager::isPackageExtension(extension) || packageTypes().count(lower(extension)) != 0;
}

std::string contentType(const std::string& name, ItemKind kind) {
    return treeFor(name, kind).front();
}

std::vector<std::string> contentTypeTree(const std::string& name, ItemKind kind) {
    return treeFor(name, kind);
}

const std::vector<std::string>& contentTypeTreeRef(const std::string& name, ItemKind kind) {
    return treeFor(name, kind);
}

}  // namespace hvn::UniformType
