// Loading plug-in bundles: by path, or by name from the plug-in folders.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tav/plugin.h"

namespace tavhost {

class Bundle {
  public:
    // Opens `nameOrPath`: a path when it contains a '/', otherwise a name
    // looked up as NAME.so in `folders`, in order. On failure returns null
    // and says why in `error`.
    static std::unique_ptr<Bundle> Open(const std::string& nameOrPath, std::string* error,
                                        const std::vector<std::string>& folders);
    static std::unique_ptr<Bundle> Open(const std::string& nameOrPath, std::string* error);
    // Opens the bundle called `name`, looked up in PluginFolders() only: a
    // name from a document, which must never make the program load a file of
    // its choosing. A path or an odd name is refused before anything is loaded.
    static std::unique_ptr<Bundle> OpenByName(const std::string& name, std::string* error);
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    TavPluginMainProc Main() const { return main_; }
    const std::string& Path() const { return path_; }
    const std::string& Name() const { return name_; }

  private:
    Bundle(void* handle, TavPluginMainProc main, std::string path, std::string name);
    void* handle_;
    TavPluginMainProc main_;
    std::string path_;
    std::string name_;
};

// Whether `name` can name a bundle: letters, digits, '_', '-' and '.', not
// starting with '.', at most 100 bytes.
bool IsBundleName(const std::string& name);

// The folders of TAV_PLUGIN_PATH, in order.
std::vector<std::string> EnvironmentFolders();

// Where the program looks for bundles, in order: EnvironmentFolders(), then
// the bundles installed with the program (found from its own real path, the
// same way in the build tree, which has the installed layout).
std::vector<std::string> PluginFolders();

// Paths of the bundles found in PluginFolders(), the first of each name.
std::vector<std::string> FindBundles();

}  // namespace tavhost
