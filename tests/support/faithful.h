// The fixture of the tests on clips made by the ffmpeg program: a folder of
// its own per test program, clips made once per build, tavhost run quietly.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/clip_fixtures.h"

namespace tavtest {

class Faithful : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ =
            std::filesystem::temp_directory_path() / ("tav-faithful-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
    static std::string P(const std::string& name) { return dir_ + "/" + name; }
    // Makes a clip with ffmpeg from a lavfi source and output options.
    static std::string Make(const std::string& name, const std::string& args) {
        const std::string path = P(name);
        if (!std::filesystem::exists(path)) {
            EXPECT_TRUE(FfmpegClip(path, args)) << name;
        }
        return path;
    }
    static Result Render(const std::string& args) {
        return RunTavhost("render " + args + " --quiet");
    }

    static inline std::string dir_;
};

}  // namespace tavtest
