// Every output (movie, folder of frames, contact sheet, placeholder, demo
// clip) is written under a temporary name of its own beside its final one and
// moved into place only when complete, so a failed or interrupted job leaves
// nothing behind and never half of a file, and two jobs writing one output at
// once leave one whole result: whichever finishes last.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tavhost {

class StagedOutput {
  public:
    enum class Kind { kFile, kFolder };

    // Stages `path`. A file is staged as a hidden file of a unique name in the
    // same folder, ending in the file's extension so that writers still know
    // its format; a folder as a hidden folder of a unique name inside it.
    StagedOutput(std::string path, Kind kind);
    // Removes the temporary file or folder unless committed.
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // A folder: which names already in it are files of an earlier render that
    // this one replaces (frames past this render's last); nothing else in the
    // folder is ever touched.
    void ReplaceOlder(std::function<bool(const std::string& name)> isOlderFrame) {
        isOlderFrame_ = std::move(isOlderFrame);
    }

    const std::string& Path() const { return path_; }
    // Empty until Prepare() has succeeded.
    const std::string& TempPath() const { return temp_; }

    // Creates the temporary file (exclusively, so no other run shares it) or
    // folder.
    bool Prepare(std::string* error);
    // Moves the temporary output into place. A folder merges into the
    // existing one, its files replacing those of the same names.
    bool Commit(std::string* error);

  private:
    bool CommitFolder(std::string* error);
    void RemoveCreatedFolders();

    std::string path_;
    std::string temp_;
    Kind kind_;
    std::function<bool(const std::string&)> isOlderFrame_;
    bool committed_ = false;
    std::vector<std::filesystem::path> createdFolders_;  // made to stage in, deepest first
};

// The hidden name a file `name` is staged under: ".NAME.TAG.partial.EXT",
// with NAME cut (at a character boundary) so the whole fits in a folder entry
// of 255 bytes.
std::string StagedFileName(const std::string& name, const std::string& tag);

// Whether `name` is one of the temporary names above.
bool IsStagedName(const std::string& name);

}  // namespace tavhost
