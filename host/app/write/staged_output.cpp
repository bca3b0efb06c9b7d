#include "staged_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "user_text.h"

namespace fs = std::filesystem;

namespace tavhost {

namespace {

constexpr size_t kNameMax = 255;
constexpr const char* kMark = ".tavhost-partial";

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// `text` cut to at most `bytes`, never inside a UTF-8 character.
std::string CutUtf8(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string RandomTag() {
    static std::mt19937_64 engine{std::random_device{}() ^ (uint64_t(getpid()) << 32)};
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(engine()));
    return tag;
}

std::string Failure(const std::string& path, const std::string& why) {
    return "cannot write " + Quoted(path) + ": " + why;
}

// Holds an exclusive lock on a folder while a render merges into it, so two
// renders into one folder commit one after the other.
class FolderLock {
  public:
    explicit FolderLock(const std::string& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY)) {
        if (fd_ >= 0)
            while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
    }
    ~FolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

}  // namespace

std::string StagedFileName(const std::string& name, const std::string& tag) {
    std::string ext = fs::path(name).extension().string();
    if (ext.size() > 16) ext.clear();
    const std::string stem = name.substr(0, name.size() - ext.size());
    const size_t fixed = 1 + 1 + tag.size() + std::strlen(kMark) + ext.size();
    return "." + CutUtf8(stem, kNameMax - fixed) + "." + tag + kMark + ext;
}

bool IsStagedName(const std::string& name) {
    return !name.empty() && name[0] == '.' && name.find(kMark) != std::string::npos;
}

StagedOutput::StagedOutput(std::string path, Kind kind)
    : path_(WithoutTrailingSlash(std::move(path))), kind_(kind) {}

StagedOutput::~StagedOutput() {
    if (committed_ || temp_.empty()) return;
    std::error_code ec;
    if (kind_ == Kind::kFile)
        fs::remove(temp_, ec);
    else
        fs::remove_all(temp_, ec);
    RemoveCreatedFolders();
}

// The folders made only to stage in go too, deepest first, each only if
// nothing else came into it.
void StagedOutput::RemoveCreatedFolders() {
    std::error_code ec;
    for (const fs::path& dir : createdFolders_) fs::remove(dir, ec);
    createdFolders_.clear();
}

bool StagedOutput::Prepare(std::string* error) {
    if (!temp_.empty()) return true;
    std::error_code ec;
    if (kind_ == Kind::kFile) {
        const fs::path target(path_);
        const fs::path dir = target.parent_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                dir / StagedFileName(target.filename().string(), RandomTag());
            const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                close(fd);
                temp_ = candidate.string();
                return true;
            }
            if (errno != EEXIST) {
                *error = Failure(path_, std::strerror(errno));
                return false;
            }
        }
        *error = Failure(path_, "no free temporary name beside it");
        return false;
    }
    const bool existed = fs::exists(path_, ec);
    if (ec) {
        *error = Failure(path_, ec.message());
        return false;
    }
    if (!existed) {
        // The folders missing on the way to it, deepest first.
        std::vector<fs::path> missing;
        for (fs::path dir = path_; !dir.empty() && !fs::exists(dir, ec) && !ec;
             dir = dir.parent_path()) {
            missing.push_back(dir);
            if (dir == dir.parent_path()) break;
        }
        fs::create_directories(path_, ec);
        if (ec) {
            *error = Failure(path_, ec.message());
            for (const fs::path& dir : missing) fs::remove(dir, ec);
            return false;
        }
        createdFolders_ = std::move(missing);
    }
    std::string pattern = path_ + "/" + kMark + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        *error = Failure(path_, std::strerror(errno));
        RemoveCreatedFolders();
        return false;
    }
    temp_ = name.data();
    return true;
}

bool StagedOutput::Commit(std::string* error) {
    if (temp_.empty()) {
        *error = Failure(path_, "nothing was staged");
        return false;
    }
    if (kind_ == Kind::kFolder) return CommitFolder(error);
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = Failure(path_, std::strerror(errno));
        return false;
    }
    committed_ = true;
    return true;
}

bool StagedOutput::CommitFolder(std::string* error) {
    std::error_code ec;
    if (!fs::is_directory(path_, ec)) {
        *error = Failure(path_, "not a folder");
        return false;
    }
    const FolderLock lock(path_);
    std::vector<std::string> ours;
    for (fs::directory_iterator it(temp_, ec), end; !ec && it != end; it.increment(ec))
        ours.push_back(it->path().filename().string());
    if (ec) {
        *error = Failure(path_, ec.message());
        return false;
    }
    // Every frame must be able to take its place before any does, so that a
    // failure leaves the folder as it was, not half of this render in it.
    for (const std::string& name : ours) {
        const fs::path to = fs::path(path_) / name;
        if (fs::is_directory(fs::symlink_status(to, ec))) {
            *error = Failure(to.string(), "a folder of that name is in the way");
            return false;
        }
    }
    for (const std::string& name : ours) {
        const std::string from = temp_ + "/" + name, to = path_ + "/" + name;
        if (std::rename(from.c_str(), to.c_str()) != 0) {
            *error = Failure(to, std::strerror(errno));
            return false;
        }
    }
    // Frames of an earlier, longer render past this one's last would be
    // mistaken for part of it: they go, and nothing else.
    if (isOlderFrame_) {
        std::vector<fs::path> older;
        for (fs::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code kind;
            if (it->is_regular_file(kind) && isOlderFrame_(it->path().filename().string()))
                older.push_back(it->path());
        }
        for (const fs::path& file : older) fs::remove(file, ec);
    }
    fs::remove(temp_, ec);
    committed_ = true;
    return true;
}

}  // namespace tavhost
