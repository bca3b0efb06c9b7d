// Every output (movie, folder of frames, contact sheet, placeholder, demo
// clip) is written under a temporary name beside its final one and moved
// into place only when complete, so a failed or interrupted job leaves
// nothing behind and never half of a file.
#pragma once

#include <string>

namespace tavhost {

class StagedOutput {
  public:
    enum class Kind { kFile, kFolder };

    // Stages `path`; the temporary name is `path` + `suffix` (a suffix ending
    // in the file's extension keeps its format recognisable to writers; a
    // folder may be staged inside itself with a suffix starting with '/').
    StagedOutput(std::string path, Kind kind, std::string suffix = ".partial");
    // A folder: files of an earlier render that this one replaces, by name
    // prefix and extension (frameNNNN.png by default).
    void ReplaceFiles(std::string prefix, std::string extension) {
        stalePrefix_ = std::move(prefix);
        staleExtension_ = std::move(extension);
    }
    // Removes the temporary file or folder unless committed.
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& TempPath() const { return temp_; }

    // A folder: creates the empty temporary folder.
    bool Prepare(std::string* error);
    // Moves the temporary output into place. A folder merges into an
    // existing one, replacing the frames of an earlier render.
    bool Commit(std::string* error);
    // Rewrites an error text that names the temporary path to name the
    // user's path instead.
    void NameUserPath(std::string* error) const;

  private:
    std::string path_;
    std::string temp_;
    Kind kind_;
    std::string stalePrefix_ = "frame", staleExtension_ = ".png";
    bool committed_ = false;
    bool createdFolder_ = false;
};

}  // namespace tavhost
