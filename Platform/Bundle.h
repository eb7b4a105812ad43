// The main bundle: the Halvorn.app folder (Contents/Info.plist, Contents/MacOS,
// Contents/Resources). HALVORN_BUNDLE names it explicitly; otherwise it is the bundle
// that holds the running executable (…/X.app/Contents/MacOS/exe) or the Halvorn.app
// beside it. Looked up again on every call, so tests may change HALVORN_BUNDLE.
#pragma once

#include <string>

#include "Platform/Value.h"

namespace hvn::Bundle {

// Path of the main bundle folder; empty when none can be found.
std::string mainBundlePath();
// Contents/Resources of the main bundle.
std::string resourcePath();
// Contents/MacOS of the main bundle (the companion programs live there).
std::string executableFolder();
// resourcePath()/name.type ("Language", "plist"); empty when the file does not exist.
std::string pathForResource(const std::string& name, const std::string& type);
// The parsed Info.plist (an empty dictionary when missing).
Value infoDictionary();
// A key of the Info.plist; null when absent.
Value objectForInfoDictionaryKey(const std::string& key);
// CFBundleIdentifier, "com.corvane.Halvorn" when the Info.plist has none.
std::string bundleIdentifier();

}  // namespace hvn::Bundle
