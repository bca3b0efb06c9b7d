#include "staged_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace tavhost {

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

StagedOutput::StagedOutput(std::string path, Kind kind, std::string suffix)
    : path_(WithoutTrailingSlash(std::move(path))), temp_(path_ + suffix), kind_(kind) {}

StagedOutput::~StagedOutput() {
    if (committed_) return;
    std::error_code ec;
    fs::remove_all(temp_, ec);
    // A folder made only to stage in goes too.
    if (createdFolder_) fs::remove(path_, ec);
}

bool StagedOutput::Prepare(std::string* error) {
    if (kind_ != Kind::kFolder) return true;
    std::error_code ec;
    fs::remove_all(temp_, ec);
    createdFolder_ = temp_.rfind(path_ + "/", 0) == 0 && !fs::exists(path_, ec);
    if (!fs::create_directories(temp_, ec) || ec) {
        *error = "cannot write '" + path_ + "': " + (ec ? ec.message() : "cannot make the folder");
        return false;
    }
    return true;
}

bool StagedOutput::Commit(std::string* error) {
    if (kind_ == Kind::kFile) {
        if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
            *error = "cannot write '" + path_ + "': " + std::strerror(errno);
            return false;
        }
        committed_ = true;
        return true;
    }
    std::error_code ec;
    const bool inside = temp_.rfind(path_ + "/", 0) == 0;
    if (!inside && !fs::exists(path_, ec)) {
        fs::rename(temp_, path_, ec);
        if (ec) {
            *error = "cannot write '" + path_ + "': " + ec.message();
            return false;
        }
        committed_ = true;
        return true;
    }
    if (!fs::is_directory(path_, ec)) {
        *error = "cannot write '" + path_ + "': not a folder";
        return false;
    }
    for (const auto& entry : fs::directory_iterator(path_, ec)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_regular_file() && name.rfind(stalePrefix_, 0) == 0 &&
            entry.path().extension() == staleExtension_)
            fs::remove(entry.path(), ec);
    }
    for (const auto& entry : fs::directory_iterator(temp_, ec)) {
        fs::rename(entry.path(), fs::path(path_) / entry.path().filename(), ec);
        if (ec) {
            *error = "cannot write '" + path_ + "': " + ec.message();
            return false;
        }
    }
    fs::remove_all(temp_, ec);
    committed_ = true;
    return true;
}

void StagedOutput::NameUserPath(std::string* error) const {
    for (size_t at = error->find(temp_); at != std::string::npos;
         at = error->find(temp_, at + path_.size()))
        error->replace(at, temp_.size(), path_);
}

}  // namespace tavhost
