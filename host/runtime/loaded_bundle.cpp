#include "loaded_bundle.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "bundle_random.h"
#include "import_binding.h"
#include "user_text.h"

namespace fs = std::filesystem;

namespace tavhost {

namespace {

std::string StemOf(const std::string& path) {
    return fs::path(path).stem().string();
}

fs::path ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe.parent_path();
}

}  // namespace

std::vector<std::string> EnvironmentFolders() {
    std::vector<std::string> folders;
    if (const char* env = std::getenv("TAV_PLUGIN_PATH")) {
        std::string list = env;
        size_t start = 0;
        while (start <= list.size()) {
            const size_t colon = list.find(':', start);
            const std::string item = list.substr(start, colon - start);
            if (!item.empty()) folders.push_back(item);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
    }
    return folders;
}

std::vector<std::string> PluginFolders() {
    std::vector<std::string> folders = EnvironmentFolders();
    const fs::path program = ProgramFolder();
    if (!program.empty())
        folders.push_back((program / TAV_BUNDLES_FROM_PROGRAM).lexically_normal().string());
    return folders;
}

std::vector<std::string> FindBundles() {
    std::vector<std::string> found;
    std::set<std::string> names;
    for (const std::string& folder : PluginFolders()) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".so") files.push_back(it->path());
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files)
            if (names.insert(file.stem().string()).second) found.push_back(file.string());
    }
    return found;
}

bool IsBundleName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name[0] == '.') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

std::unique_ptr<Bundle> Bundle::OpenByName(const std::string& name, std::string* error) {
    if (!IsBundleName(name)) {
        *error = Quoted(name) +
                 " is not a bundle name: a bundle is named (such as boxscatter) and looked up in "
                 "the bundle folders";
        return nullptr;
    }
    return Open(name, error);
}

std::unique_ptr<Bundle> Bundle::Open(const std::string& nameOrPath, std::string* error) {
    return Open(nameOrPath, error, PluginFolders());
}

std::unique_ptr<Bundle> Bundle::Open(const std::string& nameOrPath, std::string* error,
                                     const std::vector<std::string>& folders) {
    std::string path;
    if (nameOrPath.find('/') != std::string::npos) {
        path = nameOrPath;
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            *error = "no bundle at " + Quoted(path) + (ec ? ": " + ec.message() : "");
            return nullptr;
        }
    } else {
        for (const std::string& folder : folders) {
            const fs::path candidate = fs::path(folder) / (nameOrPath + ".so");
            std::error_code ec;
            if (fs::exists(candidate, ec)) {
                path = candidate.string();
                break;
            }
        }
        if (path.empty()) {
            *error =
                "unknown bundle " + Quoted(nameOrPath) + " (run 'tavhost list' to see the bundles)";
            return nullptr;
        }
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        *error = "cannot load " + Quoted(path) + ": " + (why ? why : "unknown error");
        return nullptr;
    }
    void* symbol = dlsym(handle, "main");
    // The entry point must be the bundle's own, not one of a library it uses.
    Dl_info info{};
    std::error_code ec;
    if (symbol && dladdr(symbol, &info) && info.dli_fname &&
        fs::equivalent(info.dli_fname, path, ec)) {
        // The bundle's rand() and srand() are the host's (bundle_random.h).
        if (BindImport(handle, "rand", reinterpret_cast<void*>(BundleRand())) < 0 ||
            BindImport(handle, "srand", reinterpret_cast<void*>(BundleSrand())) < 0)
            NoteUnboundBundle();
        return std::unique_ptr<Bundle>(
            new Bundle(handle, reinterpret_cast<TavPluginMainProc>(symbol), path, StemOf(path)));
    }
    dlclose(handle);
    *error = Quoted(path) + " is not a plug-in bundle: it exports no entry point 'main'";
    return nullptr;
}

Bundle::Bundle(void* handle, TavPluginMainProc main, std::string path, std::string name)
    : handle_(handle), main_(main), path_(std::move(path)), name_(std::move(name)) {}

Bundle::~Bundle() {
    if (handle_) dlclose(handle_);
}

}  // namespace tavhost
