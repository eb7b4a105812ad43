// Uniform type identifiers of files and folders, as the metadata index reports them: the
// type follows from the kind of item (file, folder, symbolic link) and its extension.
// Extensions compare without regard to ASCII case, as on the platform's file systems.
// Pure functions of their arguments; callable from any thread.
#pragma once

#include <string>
#include <vector>

namespace hvn::UniformType {

enum class ItemKind { File, Directory, SymbolicLink, Other };

// The extension of the last path component, as NSString's pathExtension: the text after
// the last "." of the name, "" when there is none, when the name begins with that "."
// (".profile") or when the name ends with it ("name."). Trailing slashes are ignored.
std::string pathExtension(const std::string& path);
// The path without its extension (and without the "." before it); unchanged when
// pathExtension() is empty. Trailing slashes are dropped.
std::string deletingPathExtension(const std::string& path);
// The last path component ("/a/b.app/" -> "b.app"); "/" for the root.
std::string lastPathComponent(const std::string& path);

// True when a folder with this extension is a package: a bundle shown as one item (app,
// bundle, framework, plugin, kext, prefPane, wdgt, photolibrary, ...): the file manager's
// package extensions and the typed folder extensions of this table.
bool isPackageExtension(const std::string& extension);

// The most specific type of an item: "com.apple.application-bundle" for an .app folder,
// "public.folder" for a plain folder, "public.symlink", "public.jpeg", ... and
// "public.data" for a file of unknown extension.
std::string contentType(const std::string& name, ItemKind kind);
// The type followed by every type it conforms to, most specific first, ending with
// "public.item" (kMDItemContentTypeTree).
std::vector<std::string> contentTypeTree(const std::string& name, ItemKind kind);
// The same list, as a reference to the table's own copy (valid for the whole run).
const std::vector<std::string>& contentTypeTreeRef(const std::string& name, ItemKind kind);

}  // namespace hvn::UniformType
