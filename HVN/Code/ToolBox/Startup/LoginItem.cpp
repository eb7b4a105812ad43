#include "HVN/Code/ToolBox/Startup/LoginItem.h"

#include <sys/stat.h>

#include <utility>
#include <vector>

#include "Platform/UniformType.h"

LoginItem LoginItem::copy() const {
    LoginItem c;
    c.icon = icon;
    c.name = name;
    c.url = url;
    c.path = path;
    c.type = type;
    return c;
}

std::string LoginItem::typeDescription(const std::optional<std::string>& path) {
    namespace UT = hvn::UniformType;
    if (!path || path->empty()) return "Unknown";
    struct ::stat st {};
    if (::stat(path->c_str(), &st) != 0) return "Unknown";
    std::string description;
    if (S_ISREG(st.st_mode) && (st.st_mode & 0111)) {
        description = "application";
    } else {
        UT::ItemKind kind = S_ISDIR(st.st_mode)   ? UT::ItemKind::Directory
                            : S_ISREG(st.st_mode) ? UT::ItemKind::File
                                                  : UT::ItemKind::Other;
        // The most specific type of the item that has a description.
        static const std::vector<std::pair<std::string, std::string>> kDescriptions = {
            {"com.apple.application", "application"},
            {"com.apple.property-list", "property list"},
            {"public.folder", "folder"},
            {"com.apple.package", "package"},
            {"public.image", "image"},
            {"public.movie", "movie"},
            {"public.audio", "audio"},
            {"public.archive", "archive"},
            {"public.text", "text document"},
            {"public.data", "document"},
            {"public.item", "item"},
        };
        for (const auto& type : UT::contentTypeTreeRef(UT::lastPathComponent(*path), kind)) {
            for (const auto& [id, text] : kDescriptions) {
                if (type == id) {
                    description = text;
                    break;
                }
            }
            if (!description.empty()) break;
        }
        if (description.empty()) description = "item";
    }
    description[0] = static_cast<char>(description[0] - 'a' + 'A');
    return description;
}
