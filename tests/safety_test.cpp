// What tavhost never does to a user's files and machine: it touches only the
// outputs it was given, leaves one whole result when two runs race, loads no
// code an edit file names, and ends every path with one line and its exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "frame_pattern.h"
#include "sinks.h"
#include "staged_output.h"
#include "support/clip_fixtures.h"
#include "user_text.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

class Safety : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tavhost-safety-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        MakeClip(A(), 30, 10, 440);
        MakeClip(B(), 30, 140, 0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/') c = '-';
        here_ = dir_ + "/" + name;
        fs::create_directories(here_);
    }

    static std::string A() { return dir_ + "/a.mp4"; }
    static std::string B() { return dir_ + "/b.mp4"; }
    std::string P(const std::string& name) const { return here_ + "/" + name; }
    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static std::set<std::string> Names(const std::string& dir) {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        return names;
    }

    static inline std::string dir_;
    std::string here_;
};

// --- Frame folders: only this render's frame names are ever replaced. ---

struct MatchCase {
    const char* pattern;
    const char* name;
    int64_t frame;  // -1: not a frame of the pattern
};

class FrameNames : public ::testing::TestWithParam<MatchCase> {};

TEST_P(FrameNames, OnlyThePatternsOwnSpellingIsAFrame) {
    tavhost::FramePattern pattern;
    ASSERT_TRUE(tavhost::FramePattern::Parse(GetParam().pattern, &pattern));
    int64_t n = -1;
    const bool match = pattern.Match(GetParam().name, &n);
    EXPECT_EQ(match, GetParam().frame >= 0);
    if (match) {
        EXPECT_EQ(n, GetParam().frame);
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, FrameNames,
                         ::testing::Values(MatchCase{"frame%04d.png", "frame0007.png", 7},
                                           MatchCase{"frame%04d.png", "frame12345.png", 12345},
                                           MatchCase{"frame%04d.png", "frame7.png", -1},
                                           MatchCase{"frame%04d.png", "frame00007.png", -1},
                                           MatchCase{"frame%04d.png", "frameworks", -1},
                                           MatchCase{"frame%04d.png", "frame0007.png.bak", -1},
                                           MatchCase{"frame%04d.png", "frame.png", -1},
                                           MatchCase{"frame%04d.png", "frame-001.png", -1},
                                           MatchCase{"%04d.jpg", "Makefile", -1},
                                           MatchCase{"%04d.jpg", "0000.jpg", 0},
                                           MatchCase{"%d.jpg", "10.jpg", 10},
                                           MatchCase{"%d.jpg", "010.jpg", -1},
                                           MatchCase{"s%%%d", "s%3", 3}));

struct FolderCase {
    std::string name;
    std::string folder;   // where the frames go
    std::string pattern;  // how this render names them
};

void PrintTo(const FolderCase& c, std::ostream* os) {
    *os << c.name;
}

class FrameFolder : public Safety, public ::testing::WithParamInterface<FolderCase> {};

// An earlier, longer render's frames past the last go; the user's own files,
// whatever their names, stay.
TEST_P(FrameFolder, ReplacesOnlyOlderFramesOfThePattern) {
    const FolderCase& c = GetParam();
    const std::string folder = P(c.folder);
    fs::create_directories(folder);
    const std::vector<std::string> keep = {"frameworks", "Makefile", "README",       "frame7.png",
                                           "notes.png",  "0001.txt", "frame0001.jpg"};
    for (const std::string& name : keep) Write(folder + "/" + name, "keep " + name);
    tavhost::FramePattern pattern;
    ASSERT_TRUE(tavhost::FramePattern::Parse(c.pattern, &pattern));
    // An earlier render of 9 frames.
    for (int i = 0; i < 9; ++i) Write(folder + "/" + pattern.Name(i), "old");
    {
        tavhost::StagedOutput staged(folder, tavhost::StagedOutput::Kind::kFolder);
        staged.ReplaceOlder([&](const std::string& name) {
            int64_t n;
            return pattern.Match(name, &n) && n >= 3;
        });
        std::string error;
        ASSERT_TRUE(staged.Prepare(&error)) << error;
        for (int i = 0; i < 3; ++i) Write(staged.TempPath() + "/" + pattern.Name(i), "new");
        ASSERT_TRUE(staged.Commit(&error)) << error;
    }
    std::set<std::string> expected(keep.begin(), keep.end());
    for (int i = 0; i < 3; ++i) expected.insert(pattern.Name(i));
    EXPECT_EQ(Names(folder), expected);
    for (const std::string& name : keep) EXPECT_EQ(Read(folder + "/" + name), "keep " + name);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(folder + "/" + pattern.Name(i)), "new");
}

INSTANTIATE_TEST_SUITE_P(Folders, FrameFolder,
                         ::testing::Values(FolderCase{"default", "out", "frame%04d.png"},
                                           FolderCase{"jpg", "photos", "%04d.jpg"},
                                           FolderCase{"unpadded", "s", "f%d.png"}),
                         [](const auto& info) { return info.param.name; });

// A frame name taken by a folder: the commit fails before any frame moves,
// so the folder is as it was, not half of this render.
TEST_F(Safety, AFrameFolderThatCannotTakeEveryFrameIsLeftAsItWas) {
    const std::string folder = P("out");
    fs::create_directories(folder + "/frame0002.png");
    Write(folder + "/frame0000.png", "old");
    tavhost::FramePattern pattern;
    ASSERT_TRUE(tavhost::FramePattern::Parse("frame%04d.png", &pattern));
    {
        tavhost::StagedOutput staged(folder, tavhost::StagedOutput::Kind::kFolder);
        std::string error;
        ASSERT_TRUE(staged.Prepare(&error)) << error;
        for (int i = 0; i < 4; ++i) Write(staged.TempPath() + "/" + pattern.Name(i), "new");
        EXPECT_FALSE(staged.Commit(&error));
        EXPECT_NE(error.find("frame0002.png"), std::string::npos) << error;
    }
    EXPECT_EQ(Names(folder), (std::set<std::string>{"frame0000.png", "frame0002.png"}));
    EXPECT_EQ(Read(folder + "/frame0000.png"), "old");
}

// The same through the program: a render into a folder of the user's files.
TEST_F(Safety, RenderIntoAFolderTouchesOnlyItsFrames) {
    const std::string still = P("still.png");
    ASSERT_EQ(RunTavhost("placeholder boxscatter --size 64x48 -o " + still).status, 0);
    for (const char* folder : {"out", "photos"}) {
        fs::create_directories(P(folder));
        for (const char* name : {"frameworks", "Makefile", "README", "frame0099.txt"})
            Write(P(folder) + "/" + name, name);
    }
    const Result a = RunTavhost("render boxrevealwhite --length 3f --still-duration 0.4 " + still +
                                " -o " + P("out/"));
    ASSERT_EQ(a.status, 0) << a.err;
    const Result b = RunTavhost("render boxrevealwhite --length 3f --still-duration 0.2 " + still +
                                " -o '" + P("photos/%04d.jpg") + "'");
    ASSERT_EQ(b.status, 0) << b.err;
    for (const char* folder : {"out", "photos"})
        for (const char* name : {"frameworks", "Makefile", "README", "frame0099.txt"})
            EXPECT_EQ(Read(P(folder) + "/" + name), name) << folder << "/" << name;
    EXPECT_TRUE(fs::exists(P("out/frame0000.png")));
    EXPECT_TRUE(fs::exists(P("photos/0000.jpg")));
    EXPECT_FALSE(StagedIn(P("out")));
    EXPECT_FALSE(StagedIn(P("photos")));
}

// --- Staging: a unique name, created exclusively, that fits the folder. ---

class StagedName : public ::testing::TestWithParam<size_t> {};

TEST_P(StagedName, FitsAFolderEntryAndKeepsTheExtension) {
    const std::string name = std::string(GetParam() - 4, 'n') + ".mp4";
    const std::string staged = tavhost::StagedFileName(name, "0123456789abcdef");
    EXPECT_LE(staged.size(), 255u);
    EXPECT_EQ(fs::path(staged).extension(), ".mp4");
    EXPECT_TRUE(tavhost::IsStagedName(staged));
    EXPECT_NE(staged, tavhost::StagedFileName(name, "fedcba9876543210"));
}

INSTANTIATE_TEST_SUITE_P(Lengths, StagedName, ::testing::Values(5, 100, 220, 248, 251, 255));

TEST(StagedNameCut, NeverSplitsACharacter) {
    std::string name;
    for (int i = 0; i < 120; ++i) name += "\xc3\xa9";  // é
    name += ".mp4";
    const std::string staged = tavhost::StagedFileName(name, "0123456789abcdef");
    EXPECT_LE(staged.size(), 255u);
    const std::string stem = staged.substr(1, staged.find(".0123456789abcdef") - 1);
    EXPECT_EQ(stem.size() % 2, 0u);
}

TEST_F(Safety, TwoStagingsOfOneFileNeverShareATemporaryName) {
    tavhost::StagedOutput first(P("same.mp4"), tavhost::StagedOutput::Kind::kFile);
    tavhost::StagedOutput second(P("same.mp4"), tavhost::StagedOutput::Kind::kFile);
    std::string error;
    ASSERT_TRUE(first.Prepare(&error)) << error;
    ASSERT_TRUE(second.Prepare(&error)) << error;
    EXPECT_NE(first.TempPath(), second.TempPath());
    Write(first.TempPath(), "first");
    Write(second.TempPath(), "second");
    ASSERT_TRUE(second.Commit(&error)) << error;
    ASSERT_TRUE(first.Commit(&error)) << error;
    EXPECT_EQ(Read(P("same.mp4")), "first");
    EXPECT_EQ(Names(here_), std::set<std::string>{"same.mp4"});
}

// A file that only looks staged (another run's, or the user's) is not ours:
// it stays, whether this run commits or gives up.
TEST_F(Safety, FilesThatLookStagedAreLeftAlone) {
    const std::set<std::string> lookalikes{"..tavhost-partial", ".same.0123.tavhost-partial.mp4"};
    for (const std::string& name : lookalikes) Write(P(name), name);
    for (const bool commit : {false, true}) {
        tavhost::StagedOutput staged(P("same.mp4"), tavhost::StagedOutput::Kind::kFile);
        std::string error;
        ASSERT_TRUE(staged.Prepare(&error)) << error;
        Write(staged.TempPath(), "new");
        if (commit) {
            ASSERT_TRUE(staged.Commit(&error)) << error;
        }
    }
    for (const std::string& name : lookalikes) EXPECT_EQ(Read(P(name)), name);
    std::set<std::string> expected = lookalikes;
    expected.insert("same.mp4");
    EXPECT_EQ(Names(here_), expected);
}

// Two renders into one movie at once: both succeed, and what is left is one
// of them, whole.
TEST_F(Safety, TwoRendersToOneOutputLeaveOneWholeMovie) {
    const std::string out = P("same.mp4");
    const std::string command =
        std::string(TAVHOST_PATH) + " render boxscatter --quiet --length 10f ";
    bool ok = false;
    Sh("(" + command + A() + " " + B() + " -o " + out + " & " + command + B() + " " + A() + " -o " +
           out + " & wait %1 && wait %2) 2>&1",
       &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frames(out), 50);
    EXPECT_FALSE(StagedBeside(out));
}

TEST_F(Safety, LongestLegalOutputNamesAreWritten) {
    for (const size_t length : {248, 255}) {
        const std::string out = P(std::string(length - 4, 'x') + ".mp4");
        const Result r =
            RunTavhost("render boxscatter --quiet --length 10f " + A() + " " + B() + " -o " + out);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Frames(out), 50);
    }
    EXPECT_FALSE(StagedIn(here_));
}

// --- Documents are data: an edit file names bundles, never files to load. ---

class EditFileBundle : public Safety, public ::testing::WithParamInterface<std::string> {};

TEST_P(EditFileBundle, IsANameLookedUpInTheBundleFoldersOnly) {
    // {FIXTURE}: the test bundle's path; {REL}: the same relative to the run's folder.
    std::string bundle = GetParam();
    const fs::path fixture = FAILING_BUNDLE_PATH;
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{FIXTURE}", fixture.string()},
          {"{REL}", "./" + fixture.filename().string()},
          {"{STEM}", fixture.stem().string()}})
        if (const size_t at = bundle.find(key); at != std::string::npos)
            bundle.replace(at, key.size(), value);
    const std::string edit = P("edit.json");
    Write(edit, R"({"clips": [")" + A() + R"(", ")" + B() + R"("], "joins": {"bundle": ")" +
                    bundle + R"("}, "output": {"path": "out.mp4"}})");
    const std::string mark = P("loaded");
    bool ok = true;
    const std::string err =
        Sh("cd " + fixture.parent_path().string() + " && TAV_FIXTURE_LOADED=" + mark +
               " TAV_PLUGIN_PATH=" + TAV_BUNDLE_DIR + " " + TAVHOST_PATH +
               " render --quiet --edit " + edit + " 2>&1 >/dev/null; echo \"status $?\"",
           &ok);
    EXPECT_NE(err.find("status 2"), std::string::npos) << err;
    EXPECT_NE(err.find("joins[0].bundle"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_FALSE(fs::exists(mark)) << "the edit file made tavhost load " << bundle;
    EXPECT_FALSE(fs::exists(P("out.mp4")));
}

INSTANTIATE_TEST_SUITE_P(Names, EditFileBundle,
                         ::testing::Values("{FIXTURE}", "{REL}", "{STEM}/../{STEM}", "../{STEM}",
                                           ".{STEM}", "{STEM}.so", "a\\u0000b"));

// The program finds the bundles installed with it from its real path, so a
// link to it finds them too; a copy away from them finds none (there is no
// build folder to fall back on) and a render says which bundle is missing.
TEST_F(Safety, BundlesAreFoundFromTheProgramsRealPath) {
    fs::create_directories(P("bin"));
    fs::create_symlink(TAVHOST_PATH, P("bin/tavhost"));
    fs::copy_file(TAVHOST_PATH, P("tavhost-copy"));
    const auto listed = [&](const std::string& program) {
        std::system(
            ("env -u TAV_PLUGIN_PATH " + program + " list >" + P("list.txt") + " 2>/dev/null")
                .c_str());
        std::istringstream lines(Read(P("list.txt")));
        std::set<std::string> names;
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line[0] != ' ') names.insert(line.substr(0, line.find(' ')));
        return names;
    };
    EXPECT_EQ(listed(P("bin/tavhost")),
              (std::set<std::string>{"boxconcealblack", "boxconcealwhite", "boxrevealblack",
                                     "boxrevealwhite", "boxscatter"}));
    EXPECT_TRUE(listed(P("tavhost-copy")).empty());
    const std::string out = P("out.png");
    const int rc = std::system(("env -u TAV_PLUGIN_PATH " + P("tavhost-copy") +
                                " placeholder boxscatter -o " + out + " 2>" + P("err.txt"))
                                   .c_str());
    EXPECT_NE(rc, 0);
    EXPECT_NE(Read(P("err.txt")).find("unknown bundle 'boxscatter'"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Safety, ACommandLineBundlePathIsTheUsersChoice) {
    const std::string mark = P("loaded");
    const Result r = RunTavhost("render " + std::string(FAILING_BUNDLE_PATH) + " " + A() + " " +
                                    B() + " -o " + P("out.mp4"),
                                "TAV_FIXTURE_LOADED=" + mark);
    EXPECT_TRUE(fs::exists(mark));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kPluginCantGetNeededFrame"), std::string::npos) << r.err;
}

// --- Every mistake one line and its exit code; nothing thrown, nothing deep. ---

struct EditCase {
    std::string name;
    std::string json;   // {A}, {B} are the clips; {LONG} a megabyte-long name
    std::string place;  // what the line must say
    int status = 2;     // a mistake in the file; 1 when a file it names cannot be read
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.name;
}

class EditFileMistake : public Safety, public ::testing::WithParamInterface<EditCase> {};

TEST_P(EditFileMistake, OneShortLineAndUsageExit) {
    std::string json = GetParam().json;
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{A}", A()},
          {"{B}", B()},
          {"{LONG}", std::string(1 << 20, 'n') + ".mp4"},
          {"{DEEP}", std::string(100000, '[') + std::string(100000, ']')}})
        for (size_t at; (at = json.find(key)) != std::string::npos;)
            json.replace(at, key.size(), value);
    Write(P("edit.json"), json);
    const Result r = RunTavhost("render --edit " + P("edit.json") + " -o " + P("out.mp4"));
    EXPECT_EQ(r.status, GetParam().status) << r.err.substr(0, 300);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err.substr(0, 300);
    EXPECT_LT(r.err.size(), 400u);
    EXPECT_NE(r.err.find(GetParam().place), std::string::npos) << r.err.substr(0, 300);
    EXPECT_FALSE(fs::exists(P("out.mp4")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EditFileMistake,
    ::testing::Values(
        EditCase{"deep", R"({"clips": {DEEP}})", "nested deeper"},
        EditCase{"deepInAClip", R"({"clips": ["{A}", {"path": {DEEP}}]})", "clips[1].path"},
        EditCase{"twiceAtTop", R"({"clips": ["{A}"], "open": null, "open": null})",
                 "open: is given twice"},
        EditCase{"twiceInAClip", R"({"clips": ["{A}", {"path": "{B}", "in": 1, "in": 2}]})",
                 "clips[1].in: is given twice"},
        EditCase{"twiceInAJoin",
                 R"({"clips": ["{A}", "{B}"], "joins": [{"bundle": "boxscatter", "seed": 1,
                     "seed": 2}]})",
                 "joins[0].seed: is given twice"},
        EditCase{"twiceInOutput", R"({"output": {"crf": 1, "crf": 2}, "clips": ["{A}"]})",
                 "output.crf: is given twice"},
        EditCase{"longClipName",
                 R"({"clips": ["{A}", "{LONG}"], "joins": {"bundle": "boxscatter"}})",
                 "nnnnnnnn.mp4': File name too long", 1},
        EditCase{"nulInAPath",
                 R"({"clips": ["{A}", "a\u0000b"], "joins": {"bundle": "boxscatter"}})",
                 "clips[1]: holds a NUL"},
        EditCase{"listAsAClip", R"({"clips": [[[[1]]]]})", "not a list [...]"}),
    [](const auto& info) { return info.param.name; });

struct PathCase {
    std::string name;
    std::string args;  // {A} {B} {DIR} replaced
    std::string env;
    std::string says;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class OddPath : public Safety, public ::testing::WithParamInterface<PathCase> {};

// Paths the file system refuses (loops, names too long) are failures said in
// one line, never an exception out of the program.
TEST_P(OddPath, OneLineAndAnExitCodeOfTheContract) {
    std::error_code ec;
    fs::create_symlink(P("loop"), P("loop"), ec);
    auto fill = [&](std::string text) {
        for (const auto& [key, value] : {std::pair<std::string, std::string>{"{A}", A()},
                                         {"{B}", B()},
                                         {"{DIR}", here_},
                                         {"{NAME300}", std::string(300, 'n')}})
            for (size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        return text;
    };
    const Result r = RunTavhost(fill(GetParam().args), fill(GetParam().env));
    EXPECT_TRUE(r.status == 1 || r.status == 2) << r.status << " " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("internal error"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OddPath,
    ::testing::Values(
        PathCase{"editLoop", "render --edit {DIR}/loop -o {DIR}/o.mp4", "", "symbolic links"},
        PathCase{"editTooLong", "render --edit {DIR}/{NAME300}.json -o {DIR}/o.mp4", "",
                 "too long"},
        PathCase{"clipTooLong", "render boxscatter {A} {DIR}/{NAME300}.mp4 -o {DIR}/o.mp4", "",
                 "nnnn.mp4': File name too long"},
        PathCase{"clipLoop", "render boxscatter {A} {DIR}/loop -o {DIR}/o.mp4", "", "loop'"},
        PathCase{"outputTooLong", "render boxscatter --length 10f {A} {B} -o {DIR}/{NAME300}.mp4",
                 "", "too long"},
        PathCase{"outputInALoop", "render boxscatter --length 10f {A} {B} -o {DIR}/loop/o.mp4", "",
                 "cannot write"},
        PathCase{"framesInALoop", "render boxscatter --length 10f {A} {B} -o {DIR}/loop/", "",
                 "cannot write"},
        PathCase{"bundleTooLong", "render {NAME300} {A} -o {DIR}/o.mp4", "", "unknown bundle"},
        PathCase{"pluginPathLoop", "render boxnone {A} -o {DIR}/o.mp4",
                 "TAV_PLUGIN_PATH={DIR}/loop:{DIR}/{NAME300}", "unknown bundle"},
        PathCase{"listWithLoop", "list --speed 2", "TAV_PLUGIN_PATH={DIR}/loop", "--speed"}),
    [](const auto& info) { return info.param.name; });

TEST_F(Safety, ListPassesOverUnreadablePluginFolders) {
    std::error_code ec;
    fs::create_symlink(P("loop"), P("loop"), ec);
    const Result r =
        RunTavhost("list", "TAV_PLUGIN_PATH=" + P("loop") + ":" + P(std::string(300, 'n')));
    EXPECT_EQ(r.status, 0) << r.err;
}

// --- Clips read once, and every wait obeys the stop signals. ---

// A clip from a FIFO, process substitution or standard input is read once and
// rendered whole; its temporary copy is gone afterwards.
TEST_F(Safety, ClipsThatCanBeReadOnlyOnceAreRenderedWhole) {
    const std::string tmp = P("tmp");
    fs::create_directories(tmp);
    const std::string run = "TMPDIR=" + tmp + " TAV_PLUGIN_PATH=" + TAV_BUNDLE_DIR + " " +
                            TAVHOST_PATH + " render --quiet --length 10f ";
    bool ok = false;
    Sh("mkfifo " + P("fifo") + " && (cat " + B() + " > " + P("fifo") + " &) && " + run +
           "boxscatter " + A() + " " + P("fifo") + " -o " + P("fifo.mp4"),
       &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frames(P("fifo.mp4")), 50);
    Sh("bash -c '" + run + "boxscatter <(cat " + A() + ") " + B() + " -o " + P("sub.mp4") + "'",
       &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frames(P("sub.mp4")), 50);
    Sh("cat " + A() + " | " + run + "boxrevealblack - -o " + P("stdin.mp4"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frames(P("stdin.mp4")), 30);
    EXPECT_TRUE(fs::is_empty(tmp));
}

// A clip read once that cannot be used is named as the user gave it, never
// by the temporary copy it was read into.
TEST_F(Safety, AClipReadOnceIsNamedAsTheUserGaveIt) {
    const std::string run = std::string("TAV_PLUGIN_PATH=") + TAV_BUNDLE_DIR + " " + TAVHOST_PATH +
                            " render --quiet boxscatter ";
    for (const std::string& cut : {"head -c 2000 " + A(), std::string("head -c 3000 /dev/zero")}) {
        const std::string err =
            Sh(cut + " | " + run + "- " + B() + " -o " + P("once.mp4") + " 2>&1 >/dev/null");
        EXPECT_NE(err.find("'-' (standard input)"), std::string::npos) << err;
        EXPECT_EQ(err.find("tavhost-clip-"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(fs::exists(P("once.mp4")));
    }
}

class StopSignal : public Safety, public ::testing::WithParamInterface<int> {};

// Waits (up to 20 s) until process `pid` catches `signal`, read from its
// SigCgt mask: a signal sent before the program has started up would end it
// before any code of ours runs, however loaded the machine is.
bool CatchesSignal(pid_t pid, int signal) {
    for (int tries = 0; tries < 2000; ++tries) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("SigCgt:", 0) == 0 &&
                (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1))
                return true;
        usleep(10000);
    }
    return false;
}

// A FIFO nobody writes to, and one whose writer stalls: the wait ends on the
// signal with its exit code, leaving no output and no temporary copy.
TEST_P(StopSignal, EndsAWaitOnAFifo) {
    const int signal = GetParam();
    const std::string tmp = P("tmp"), fifo = P("fifo"), out = P("out.mp4");
    fs::create_directories(tmp);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const bool stalledWriter : {false, true}) {
        int writer = -1;
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            freopen("/dev/null", "w", stderr);
            setenv("TMPDIR", tmp.c_str(), 1);
            execl(TAVHOST_PATH, "tavhost", "render", "boxrevealblack", "--quiet", fifo.c_str(),
                  "-o", out.c_str(), nullptr);
            _exit(127);
        }
        if (stalledWriter) {
            writer = open(fifo.c_str(), O_WRONLY);
            ASSERT_GE(writer, 0);
            ASSERT_EQ(write(writer, "\0\0\0\x20", 4), 4);  // a few bytes, then nothing
        }
        EXPECT_TRUE(CatchesSignal(pid, signal));
        usleep(200000);  // into the wait
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        if (writer >= 0) close(writer);
        ASSERT_TRUE(WIFEXITED(status)) << "stalled writer " << stalledWriter;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal) << "stalled writer " << stalledWriter;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(StagedIn(here_));
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

// A movie on standard output that nobody reads: the signal ends the write.
TEST_F(Safety, StopSignalEndsAWaitOnAFullPipe) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        freopen("/dev/null", "w", stderr);
        execl(TAVHOST_PATH, "tavhost", "render", "boxscatter", "--quiet", "--crf", "0", A().c_str(),
              B().c_str(), "-o", "-", nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    EXPECT_TRUE(CatchesSignal(pid, SIGTERM));
    usleep(800000);  // the pipe's buffer fills; the writer waits
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(pipeFds[0]);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the movie fit in the pipe";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

// --- Standard output and odd names. ---

TEST_F(Safety, DashIsStandardOutputAndDoubleDashEndsTheOptions) {
    fs::copy_file(A(), P("-x.mp4"));
    bool ok = false;
    const std::string run = "cd " + here_ + " && TAV_PLUGIN_PATH=" + TAV_BUNDLE_DIR + " " +
                            TAVHOST_PATH + " render --quiet ";
    const std::pair<std::string, std::string> formats[] = {{"default", ""},
                                                           {"mkv", "--format mkv "},
                                                           {"mp4", "--format mp4 "},
                                                           {"webm", "--format webm "}};
    for (const auto& [name, format] : formats) {
        const std::string movie = P(name);
        Sh(run + format + "boxscatter --length 10f " + A() + " " + B() + " -o - > " + movie, &ok);
        EXPECT_TRUE(ok) << name;
        EXPECT_EQ(Frames(movie), 50) << name;
        EXPECT_NE(Probe(movie, "a", "codec_type"), "") << name;
    }
    EXPECT_FALSE(fs::exists(P("-")));
    Sh(run + "boxrevealblack -o - -- -x.mp4 > " + P("dash.mkv"), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frames(P("dash.mkv")), 30);
    EXPECT_EQ(Names(here_),
              (std::set<std::string>{"-x.mp4", "dash.mkv", "default", "mkv", "mp4", "webm"}));
}

struct UsageCase {
    std::string name;
    std::string args;  // {A} {B} {DIR} replaced
    std::string says;
};

void PrintTo(const UsageCase& c, std::ostream* os) {
    *os << c.name;
}

class RefusedFirst : public Safety, public ::testing::WithParamInterface<UsageCase> {};

// Values that would fail once the work started are refused before it: one
// line naming the value, exit 2, nothing written.
TEST_P(RefusedFirst, ExitTwoAndNothingWritten) {
    std::string args = GetParam().args;
    for (const auto& [key, value] :
         {std::pair<std::string, std::string>{"{A}", A()}, {"{B}", B()}, {"{DIR}", here_}})
        for (size_t at; (at = args.find(key)) != std::string::npos;)
            args.replace(at, key.size(), value);
    const Result r = RunTavhost(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(here_));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedFirst,
    ::testing::Values(
        UsageCase{"hugeSize", "render boxrevealblack --size 16384x16384 {A} -o {DIR}/o.mp4",
                  "16384x16384 is more than the encoder takes"},
        UsageCase{"hugeSizeFrames", "render boxrevealblack --size 16000x16800 {A} -o {DIR}/f/",
                  "16000x16800"},
        UsageCase{"inPastTheEnd", "render boxrevealblack --in 1.0 {A} -o {DIR}/o.mp4",
                  "is not before the clip's end"},
        UsageCase{"formatForAFile", "render boxrevealblack --format mkv {A} -o {DIR}/o.mp4",
                  "--format is for"},
        UsageCase{"formatUnknown", "render boxrevealblack --format avi {A} -o -", "not 'avi'"},
        UsageCase{"optionAfterDoubleDash", "render boxrevealblack -- {A} --quiet -o {DIR}/o.mp4",
                  "no output given"}),
    [](const auto& info) { return info.param.name; });

// An in point anywhere on a clip's last picture gives that picture (a variant
// that draws nothing joins the clips in a plain cut).
TEST_F(Safety, AnInPointOnTheLastPictureGivesIt) {
    const std::vector<tavhost::media::Frame> clip = ReadAll(A());
    ASSERT_EQ(clip.size(), 30u);
    for (const char* in : {"0.99", "0.975", "0.9667", "29f"}) {
        const std::string out = P(std::string("last-") + in);
        const Result r = RunTavhost("render boxrevealwhite --variant 5 " + A() + " --in " + in +
                                    " " + A() + " -o " + out + "/");
        ASSERT_EQ(r.status, 0) << in << ": " << r.err;
        const std::vector<tavhost::media::Frame> got = ReadAll(PngFolder(out));
        ASSERT_EQ(got.size(), 31u) << in;
        EXPECT_EQ(got[30].pixels, clip[29].pixels) << in;
    }
}

// --- Errors inside are said, once. ---

// Sound of a kind no decoder reads: the render goes on silent, and one line
// says so (it used to be left out without a word).
TEST_F(Safety, SoundThatCannotBeDecodedIsSaid) {
    bool ok = false;
    Sh("ffmpeg -v error -y -f lavfi -i testsrc2=s=160x96:r=30:d=1 -f lavfi -i sine=d=1 -c:v "
       "libx264 -c:a libopus " +
           P("opus.mkv"),
       &ok);
    ASSERT_TRUE(ok);
    std::string bytes = Read(P("opus.mkv"));
    const size_t at = bytes.find("A_OPUS");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 6, "A_OPUX");  // a codec nobody knows
    Write(P("unknown.mkv"), bytes);
    const Result r =
        RunTavhost("render boxrevealblack --length 5f " + P("unknown.mkv") + " -o " + P("out.mp4"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find("unknown.mkv': its sound cannot be decoded"), std::string::npos) << r.err;
    const std::vector<tavhost::media::Frame> out = ReadAll(P("out.mp4"));
    ASSERT_EQ(out.size(), 30u);
    EXPECT_EQ(Rms(out, 0, 30), 0.0);
}

// A render that fails leaves no folder it made for its output, however deep,
// and keeps every folder that was there before.
TEST_F(Safety, AFailedRenderTakesAwayTheFoldersItMade) {
    fs::create_directories(P("there"));
    const std::string outputs[] = {"made/", "made/sub/deeper/", "there/new/frames/",
                                   "pat/f%04d.png", "deep/er/f%03d.png"};
    for (const std::string& output : outputs) {
        const Result r = RunTavhost("render " + std::string(FAILING_BUNDLE_PATH) + " " + A() + " " +
                                    B() + " -o " + P(output));
        EXPECT_EQ(r.status, 1) << output << ": " << r.err;
        EXPECT_NE(r.err.find("kPluginCantGetNeededFrame"), std::string::npos) << r.err;
        EXPECT_EQ(Names(here_), (std::set<std::string>{"there"})) << output;
        EXPECT_TRUE(fs::is_empty(P("there"))) << output;
    }
    // The same outputs, rendered: the folders are made.
    const Result ok = RunTavhost("render boxscatter --length 5f " + A() + " " + B() + " -o " +
                                 P("there/new/frames/"));
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_TRUE(fs::exists(P("there/new/frames/frame0001.png")));
}

// An output the movie writer cannot open is named as the user wrote it,
// never by its staging name, and nothing is left.
TEST_F(Safety, AWriterThatCannotOpenNamesTheUsersOutput) {
    for (const char* name : {"movie.mp4", "movie.mkv", "movie.mov", "movie.webm"}) {
        tavhost::SinkOptions options;
        options.format = {.width = 160, .height = 96, .fps = {0, 1}};  // no encoder takes it
        std::string error;
        EXPECT_FALSE(tavhost::OpenSink(P(name), options, &error)) << name;
        EXPECT_EQ(error.rfind("cannot write " + tavhost::Quoted(P(name)) + ": ", 0), 0u) << error;
        EXPECT_EQ(error.find("tavhost-partial"), std::string::npos) << error;
        EXPECT_TRUE(fs::is_empty(here_)) << name;
    }
}

}  // namespace
}  // namespace tavtest
