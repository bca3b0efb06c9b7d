// Every render that started a transition instance ends it: one Terminate
// after Initialize, and the plug-in's record given back, on every path out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sequence_plan.h"
#include "support/clip_fixtures.h"

namespace fs = std::filesystem;

namespace tavtest {
namespace {

std::vector<std::string> ReadLog(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The log of a whole run: records taken and given back in pairs, `inits`
// Initialize calls, and after each exactly one Terminate before the next
// Initialize, which gives its record back.
void ExpectLifecycleClosed(const std::vector<std::string>& log, int inits) {
    EXPECT_EQ(std::count(log.begin(), log.end(), "alloc"),
              std::count(log.begin(), log.end(), "freed"));
    EXPECT_EQ(std::count(log.begin(), log.end(), "2"), inits);
    for (auto init = std::find(log.begin(), log.end(), "2"); init != log.end();
         init = std::find(init + 1, log.end(), "2")) {
        const auto next = std::find(init + 1, log.end(), "2");
        EXPECT_EQ(std::count(init, next, "8"), 1);
        const auto terminate = std::find(init, next, "8");
        ASSERT_NE(terminate, next);
        ASSERT_NE(terminate + 1, log.end());
        EXPECT_EQ(*(terminate + 1), "freed");
    }
}

class Lifecycle : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-lifecycle-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        MakeClip(dir_ + "/a.mp4", 30, 10, 440);
        MakeClip(dir_ + "/b.mp4", 30, 140, 0);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        log_ = dir_ + "/" + name + ".log";
        fs::remove(log_);
    }

    static inline std::string dir_;
    std::string log_;
};

struct PathCase {
    std::string name;
    std::string args;  // {A} {B} {DIR} are replaced
    std::string env;   // more of the fixture's settings
    int status;
    int inits;  // Initialize calls: transitions begun
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name;
}

class RenderPaths : public Lifecycle, public ::testing::WithParamInterface<PathCase> {};

TEST_P(RenderPaths, EveryInitializeEndsInOneTerminate) {
    const PathCase& c = GetParam();
    std::string args = "render " + std::string(RECORDING_BUNDLE_PATH) + " " + c.args;
    for (auto [key, value] : {std::pair{"{A}", dir_ + "/a.mp4"}, std::pair{"{B}", dir_ + "/b.mp4"},
                              std::pair{"{DIR}", dir_}})
        for (size_t at; (at = args.find(key)) != std::string::npos;)
            args.replace(at, std::string(key).size(), value);
    const Result run = RunTavhost(args + " --quiet", "TAV_FIXTURE_LOG=" + log_ + " " + c.env);
    EXPECT_EQ(run.status, c.status) << run.err;
    ExpectLifecycleClosed(ReadLog(log_), c.inits);
    EXPECT_FALSE(StagedIn(dir_));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RenderPaths,
    ::testing::Values(
        PathCase{"success", "--variant 1 {A} {B} -o {DIR}/ok.mkv", "", 0, 1},
        PathCase{"single", "--variant 2 {A} -o {DIR}/ok2.mkv", "", 0, 1},
        PathCase{"sequence", "--variant 1 {A} {B} {A} -o {DIR}/ok3.mkv", "", 0, 2},
        // The output cannot be opened: described, never begun.
        PathCase{"unwritable", "--variant 1 {A} {B} -o /proc/nowhere/x.mp4", "", 1, 0},
        PathCase{"clipsDoNotFit", "--variant 1 {A} -o {DIR}/x.mp4", "", 2, 0},
        PathCase{"doFrameFails", "--variant 1 {A} {B} -o {DIR}/x.mp4", "TAV_FIXTURE_FAIL_AT=3", 1,
                 1},
        PathCase{"interrupted", "--variant 1 {A} {B} -o {DIR}/x.mp4", "TAV_FIXTURE_SIGNAL_AT=3",
                 130, 1},
        PathCase{"sheetUnwritable",
                 "--variant 1 {A} {B} -o {DIR}/x.mp4 --contact-sheet /proc/nowhere/s.png", "", 1,
                 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(Lifecycle, EncoderThatCannotOpen) {
    setenv("TAV_FIXTURE_LOG", log_.c_str(), 1);
    tavhost::RenderJob job;
    job.transition.bundle = RECORDING_BUNDLE_PATH;
    job.transition.variant = 1;
    job.clips = {dir_ + "/a.mp4", dir_ + "/b.mp4"};
    job.output = dir_ + "/enc.mp4";
    job.settings.preset = "no-such-preset";
    job.quiet = true;
    tavhost::RenderSummary summary;
    tavhost::Error error;
    EXPECT_FALSE(tavhost::Render(job, &summary, &error));
    unsetenv("TAV_FIXTURE_LOG");
    EXPECT_NE(error.text.find(job.output), std::string::npos) << error.text;
    EXPECT_FALSE(error.usage);
    EXPECT_FALSE(fs::exists(job.output));
    EXPECT_FALSE(StagedBeside(job.output));
    ExpectLifecycleClosed(ReadLog(log_), 0);
}

}  // namespace
}  // namespace tavtest
