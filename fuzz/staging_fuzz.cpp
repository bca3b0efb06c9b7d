// Fuzzes outputs through the real staging, in a folder of files with any
// names: a movie-like file staged and committed (or abandoned), or a folder
// of frames named by a pattern. Contracts:
//  - nothing staged is left behind, committed or not;
//  - abandoned, the folder is exactly as it was;
//  - committed, the output holds this run's content; in a frame folder only
//    the pattern's own frame names change (this run's written, an earlier
//    run's later frames removed) and every other file stays as it was.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "frame_pattern.h"
#include "staged_output.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Broken(const char* contract, const std::string& detail = "") {
    std::fprintf(stderr, "contract broken: %s %s\n", contract, detail.c_str());
    std::abort();
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file under `dir` (two levels) and its content; folders as "/".
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> all;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it.depth() > 2) continue;
        const std::string rel = fs::relative(it->path(), dir, ec).string();
        all[rel] = it->is_directory(ec) ? "/" : Read(it->path());
    }
    return all;
}

// A file name from the input: bytes that are no '/' or NUL, up to 255.
std::string Name(FuzzedDataProvider& in) {
    static const char* const kNames[] = {"frame0001.png", "frame0099.png", "frameworks",
                                         "frame7.png",    "Makefile",      "0001.jpg",
                                         "out.mp4",       ".hidden",       "frame0001.jpg"};
    std::string name =
        in.ConsumeBool() ? in.PickValueInArray(kNames) : in.ConsumeRandomLengthString(260);
    std::string clean;
    for (char c : name)
        if (c != '/' && c != '\0') clean += c;
    if (clean.empty() || clean == "." || clean == "..") clean = "x";
    return clean.substr(0, 255);
}

// A staged name this run left: one that was not already there (the folder
// may hold a file that merely looks staged, which is not ours to remove; the
// callers also pass over the user's own outputs, whatever their names).
bool LeftStaged(const std::string& rel, const std::map<std::string, std::string>& before) {
    return tavhost::IsStagedName(fs::path(rel).filename().string()) && !before.count(rel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fs::path root = "/tmp/tav-staging-fuzz-" + std::to_string(getpid());
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(root / "out", ec);
    FuzzedDataProvider in(data, size);
    const bool folderOutput = in.ConsumeBool();
    const fs::path dir = folderOutput ? root / "out" : root;
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        const std::string name = Name(in);
        if (in.ConsumeIntegralInRange(0, 5) == 0)
            fs::create_directory(dir / name, ec);
        else
            Write(dir / name, "old " + name);
    }
    const auto before = Snapshot(root);
    const bool commit = in.ConsumeBool();
    if (!folderOutput) {
        const std::string name = Name(in);
        bool committed = false;
        {
            tavhost::StagedOutput staged((root / name).string(),
                                         tavhost::StagedOutput::Kind::kFile);
            std::string error;
            if (staged.Prepare(&error)) {
                if (fs::path(staged.TempPath()).parent_path() != root)
                    Broken("staged beside the output");
                Write(staged.TempPath(), "new");
                committed = commit && staged.Commit(&error);
            }
        }
        auto after = Snapshot(root);
        for (const auto& [rel, text] : after)
            if (LeftStaged(rel, before) && !(committed && rel == name))
                Broken("nothing staged is left", rel);
        if (committed) {
            if (after[name] != "new") Broken("the output holds this run's content");
            after.erase(name);
            auto expected = before;
            expected.erase(name);
            if (after != expected) Broken("only the output changes");
        } else if (after != before) {
            Broken("an abandoned output changes nothing");
        }
        return 0;
    }
    static const char* const kPatterns[] = {"frame%04d.png", "%04d.jpg", "f%d.png",
                                            "s%%%02d_x.png"};
    std::string text = in.ConsumeBool() ? in.PickValueInArray(kPatterns) : Name(in);
    tavhost::FramePattern pattern;
    if (!tavhost::FramePattern::Parse(text, &pattern)) return 0;
    const int64_t frames = in.ConsumeIntegralInRange(0, 12);
    bool committed = false;
    {
        tavhost::StagedOutput staged(dir.string() + "/", tavhost::StagedOutput::Kind::kFolder);
        staged.ReplaceOlder([&](const std::string& name) {
            int64_t n;
            return pattern.Match(name, &n) && n >= frames;
        });
        std::string error;
        if (staged.Prepare(&error)) {
            for (int64_t i = 0; i < frames; ++i) {
                const std::string name = pattern.Name(i);
                if (name.find('/') != std::string::npos || name.size() > 255) return 0;
                Write(fs::path(staged.TempPath()) / name, "new");
            }
            committed = commit && staged.Commit(&error);
        }
    }
    const auto after = Snapshot(root);
    const auto isNewFrame = [&](const std::string& rel) {
        int64_t n = -1;
        const fs::path p(rel);
        return committed && p.parent_path() == "out" && pattern.Match(p.filename().string(), &n) &&
               n < frames;
    };
    for (const auto& [rel, content] : after)
        if (LeftStaged(rel, before) && !isNewFrame(rel)) Broken("nothing staged is left", rel);
    if (!committed) {
        if (after != before) Broken("an abandoned folder changes nothing");
        return 0;
    }
    for (const auto& [rel, content] : before) {
        const fs::path p(rel);
        int64_t n = -1;
        const bool frame =
            p.parent_path() == "out" && pattern.Match(p.filename().string(), &n) && content != "/";
        if (!frame && (!after.count(rel) || after.at(rel) != content))
            Broken("a file that is no frame stays as it was", rel);
        if (frame && n >= frames && after.count(rel))
            Broken("an earlier run's later frame goes", rel);
    }
    for (int64_t i = 0; i < frames; ++i) {
        const std::string rel = "out/" + pattern.Name(i);
        if (!after.count(rel) || after.at(rel) != "new") Broken("this run's frames are there", rel);
    }
    return 0;
}
