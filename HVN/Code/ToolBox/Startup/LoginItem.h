// One entry of the startup list: a login item of the user (isLogin YES) or a launch service
// (isLogin NO). A plain value; copy() carries only what a copy of the item carries.
#pragma once

#include <optional>
#include <string>

struct LoginItem {
    std::string name;                // display name, or a launch service's derived name
    std::optional<std::string> url;  // the path a login item resolves to; none when it does not
    std::string path;                // a launch service's property list
    std::string type;                // type description, "Unknown", or "Service"
    std::string icon;                // the path the icon comes from
    bool isLogin = false;
    bool disable = false;  // disabled by this program
    bool hidden = false;   // hide on launch
    bool isCheck = false;  // marked for removal

    // A new item with the icon, name, url, path and type of this one; the flags start clear.
    LoginItem copy() const;

    // The description of the kind of item at path, first character upper-cased:
    // "Application" for an application bundle or an executable file, "Folder", "Package",
    // "Image", "Text document", "Archive", "Document", ...; "Unknown" when path is none or
    // nothing is there (a final link is followed).
    static std::string typeDescription(const std::optional<std::string>& path);
};
