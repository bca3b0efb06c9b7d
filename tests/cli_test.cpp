// The command line and edit files as the plan receives them, read in
// process: the forms they accept, the one line each mistake gets, and the
// option table both are read through.
#include "cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_usage.h"
#include "edit_file.h"
#include "options.h"
#include "render_defaults.h"

namespace fs = std::filesystem;
using tavhost::Command;
using tavhost::ParseCommandLine;

namespace tavtest {
namespace {

// The words of `line` as a shell splits them: spaces apart, '...' one word
// whatever it holds ('' an empty one).
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char ch : line) {
        if (ch == '\'') {
            quoted = !quoted;
            inWord = true;
        } else if (ch == ' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += ch;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

class CommandLine : public ::testing::Test {
  protected:
    static Command Parse(const std::string& line) { return ParseCommandLine(Words(line)); }
};

struct MistakeCase {
    const char* name;
    const char* args;
    const char* says;
};

void PrintTo(const MistakeCase& c, std::ostream* os) {
    *os << c.name;
}

class Mistakes : public CommandLine, public ::testing::WithParamInterface<MistakeCase> {};

// A mistake is one line naming the value, with the command whose help tells more.
TEST_P(Mistakes, AreOneLineNamingTheValue) {
    const Command c = Parse(GetParam().args);
    ASSERT_EQ(c.kind, Command::Kind::kUsageError) << GetParam().args;
    EXPECT_NE(c.usageError.find(GetParam().says), std::string::npos) << c.usageError;
    EXPECT_EQ(c.usageError.find('\n'), std::string::npos) << c.usageError;
    EXPECT_FALSE(c.usageError.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mistakes,
    ::testing::Values(
        MistakeCase{"variant0", "render boxconcealwhite --variant 0 a.mp4 -o o.mp4",
                    "from 1 to 32767"},
        MistakeCase{"variantHuge", "render boxconcealwhite --variant 99999 a.mp4 -o o.mp4",
                    "not '99999'"},
        MistakeCase{"speedEmpty", "render boxscatter --speed '' a.mp4 b.mp4 -o o.mp4", "not ''"},
        MistakeCase{"speedWord", "render boxscatter --speed abc a.mp4 b.mp4 -o o.mp4", "not 'abc'"},
        MistakeCase{"speed", "render boxscatter --speed 1.5 a.mp4 b.mp4 -o o.mp4", "from 0 to 1"},
        MistakeCase{"bundleEmpty", "render '' a.mp4 -o o.mp4", "bundle name is empty"},
        MistakeCase{"preset", "render boxscatter --preset quick a.mp4 -o o.mp4", "not 'quick'"},
        MistakeCase{"crf", "render boxscatter --crf 52 a.mp4 -o o.mp4", "from 0 to 51"},
        MistakeCase{"seed", "render boxscatter --seed 4294967296 a.mp4 -o o.mp4",
                    "from 0 to 4294967295"},
        MistakeCase{"lengthZero", "render boxscatter --length 0 a.mp4 b.mp4 -o o.mp4",
                    "--length takes a time more than 0"},
        MistakeCase{"size", "render boxscatter --size 1x1 a.mp4 -o o.mp4", "not '1x1'"},
        MistakeCase{"rate", "render boxscatter --rate 0 a.mp4 -o o.mp4", "from 1 to 240"},
        MistakeCase{"fit", "render boxscatter --fit squash a.mp4 -o o.mp4", "pad, crop or stretch"},
        MistakeCase{"stillDuration", "render boxscatter --still-duration 0 a.mp4 -o o.mp4",
                    "seconds from 0.04 to 3600"},
        MistakeCase{"format", "render boxscatter --format avi a.mp4 -o -", "not 'avi'"},
        MistakeCase{"noValue", "render boxscatter a.mp4 --crf", "--crf needs a value"},
        MistakeCase{"outputEmpty", "render boxscatter a.mp4 -o ''", "-o needs a file or folder"},
        MistakeCase{"unknown", "render boxscatter --colour red a.mp4 -o o.mp4",
                    "unknown option '--colour'"},
        MistakeCase{"trailing", "render boxconcealwhite a.mp4 --in 1 -o o.mp4",
                    "go before the clip they trim"},
        MistakeCase{"notATime", "render boxconcealwhite --in 1:75 a.mp4 -o o.mp4", "not '1:75'"},
        MistakeCase{"openWord", "render boxscatter --open boxrevealwhite:x a.mp4 a.mp4 -o o.mp4",
                    "BUNDLE or BUNDLE:VARIANT"},
        MistakeCase{"editAndClips", "render --edit e.json a.mp4 -o o.mp4",
                    "--edit takes the bundle and clips from the file"},
        MistakeCase{"editAndLength", "render --edit e.json --length 2 -o o.mp4", "no --open"},
        MistakeCase{"noOutput", "render boxscatter a.mp4 b.mp4", "no output given"},
        MistakeCase{"noClip", "render boxscatter -o o.mp4", "no clip given"},
        MistakeCase{"command", "rendr boxscatter", "unknown command 'rendr'"},
        MistakeCase{"listSpeed", "list --speed 3", "--speed takes a number from 0 to 1, not '3'"},
        MistakeCase{"demoFolder", "demo -o ''", "-o needs a folder name"},
        MistakeCase{"demoUnknown", "demo --fast", "unknown option '--fast'"},
        MistakeCase{"placeholderSize", "placeholder boxscatter --size 1x1 -o p.png", "not '1x1'"},
        MistakeCase{"placeholderKind", "placeholder boxscatter -o p.gif", "name it .png or .jpg"},
        MistakeCase{"placeholderTwo", "placeholder boxscatter boxfog -o p.png",
                    "unexpected 'boxfog'"},
        MistakeCase{"partZero", "render boxscatter a.mp4 --part 0/2 -o p.mkv", "--part takes"},
        MistakeCase{"partPastCount", "render boxscatter a.mp4 --part 3/2 -o p.mkv", "not '3/2'"},
        MistakeCase{"partSpaceBefore", "render boxscatter a.mp4 --part ' 1/2' -o p.mkv",
                    "not ' 1/2'"},
        MistakeCase{"partPlus", "render boxscatter a.mp4 --part +1/2 -o p.mkv", "not '+1/2'"},
        MistakeCase{"crfSpaceBefore", "render boxscatter --crf ' 20' a.mp4 -o o.mp4", "not ' 20'"},
        MistakeCase{"outputTwice", "render boxscatter a.mp4 -o o.mp4 -o p.mp4",
                    "-o is given twice"},
        MistakeCase{"crfTwice", "render boxscatter --crf 20 a.mp4 --crf 30 -o o.mp4",
                    "--crf is given twice"},
        MistakeCase{"inTwiceForOneClip", "render boxscatter --in 1 --in 2 a.mp4 -o o.mp4",
                    "--in is given twice"},
        MistakeCase{"joinOutputTwice", "join a.mkv -o j.mp4 -o k.mp4", "-o is given twice"},
        MistakeCase{"joinNoParts", "join -o j.mp4", "no parts given"},
        MistakeCase{"joinNoOutput", "join a.mkv b.mkv", "no output given"},
        MistakeCase{"joinUnknown", "join a.mkv --fast -o j.mp4", "unknown option '--fast'"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandLine, EveryValueLandsWhereTheRenderReadsIt) {
    const Command c = Parse(
        "render boxscatter --variant 2 --speed 0.25 --seed 7 --size 320x240 --rate 29.97 "
        "--fit crop --crf 18 --preset slow --still-duration 2 --copy-unchanged --strict -q "
        "--caption hello --contact-sheet s.png --open boxrevealblack:4 --in 1.5 --out 75f "
        "a.mp4 b.mp4 -o out.mkv");
    ASSERT_EQ(c.kind, Command::Kind::kRender) << c.usageError;
    const tavhost::RenderJob& j = c.render;
    EXPECT_EQ(j.transition.bundle, "boxscatter");
    EXPECT_EQ(j.transition.variant, 2);
    EXPECT_FLOAT_EQ(j.transition.speed, 0.25f);
    EXPECT_EQ(j.transition.seed, 7u);
    EXPECT_EQ(j.settings.width, 320);
    EXPECT_EQ(j.settings.height, 240);
    ASSERT_TRUE(j.settings.rate);
    EXPECT_EQ(j.settings.rate->num, 30000);
    EXPECT_EQ(j.settings.rate->den, 1001);
    EXPECT_EQ(j.settings.fit, tavhost::media::Fit::kCrop);
    EXPECT_EQ(j.settings.crf, 18);
    EXPECT_EQ(j.settings.preset, "slow");
    EXPECT_EQ(j.settings.stillSeconds, 2.0);
    EXPECT_EQ(j.settings.copyUnchanged, true);
    EXPECT_TRUE(j.strict);
    EXPECT_TRUE(j.quiet);
    EXPECT_EQ(j.caption, "hello");
    EXPECT_EQ(j.contactSheet, "s.png");
    ASSERT_TRUE(j.open);
    EXPECT_EQ(j.open->bundle, "boxrevealblack");
    EXPECT_EQ(j.open->variant, 4);
    ASSERT_EQ(j.clips.size(), 2u);
    ASSERT_TRUE(j.clips[0].in && j.clips[0].out);
    EXPECT_EQ(j.clips[0].in->value, 1.5);
    EXPECT_FALSE(j.clips[0].in->frames);
    EXPECT_EQ(j.clips[0].out->value, 75);
    EXPECT_TRUE(j.clips[0].out->frames);
    EXPECT_FALSE(j.clips[1].in || j.clips[1].out);  // trims hold for the next clip only
    EXPECT_EQ(j.output, "out.mkv");
}

TEST_F(CommandLine, TheOtherCommandsTakeTheirOptions) {
    const Command p = Parse("placeholder boxscatter --size 320x200 --caption hi -o p.jpg");
    ASSERT_EQ(p.kind, Command::Kind::kPlaceholder) << p.usageError;
    EXPECT_EQ(p.placeholder.bundle, "boxscatter");
    EXPECT_EQ(p.placeholder.width, 320);
    EXPECT_EQ(p.placeholder.height, 200);
    EXPECT_EQ(p.placeholder.caption, "hi");
    EXPECT_EQ(p.placeholder.output, "p.jpg");
    const Command d = Parse("demo -q --output there");
    ASSERT_EQ(d.kind, Command::Kind::kDemo) << d.usageError;
    EXPECT_TRUE(d.demo.quiet);
    EXPECT_EQ(d.demo.dir, "there");
    const Command l = Parse("list --speed 0.125");
    ASSERT_EQ(l.kind, Command::Kind::kList) << l.usageError;
    EXPECT_FLOAT_EQ(l.listSpeed, 0.125f);
    const Command j = Parse("join b.mkv -q a.mkv -o j.mp4 -- -c.mkv");
    ASSERT_EQ(j.kind, Command::Kind::kJoin) << j.usageError;
    EXPECT_EQ(j.join.parts, (std::vector<std::string>{"b.mkv", "a.mkv", "-c.mkv"}));
    EXPECT_EQ(j.join.output, "j.mp4");
    EXPECT_TRUE(j.join.quiet);
    const Command r = Parse("render boxscatter a.mp4 --part 7/12 -o p.mkv");
    ASSERT_EQ(r.kind, Command::Kind::kRender) << r.usageError;
    EXPECT_EQ(r.render.part.index, 7);
    EXPECT_EQ(r.render.part.count, 12);
}

TEST_F(CommandLine, TheLastWordOfAFlagPairWins) {
    EXPECT_EQ(Parse("render b --copy-unchanged --no-copy-unchanged a -o o.mp4")
                  .render.settings.copyUnchanged,
              false);
    EXPECT_EQ(Parse("render b --no-copy-unchanged --copy-unchanged a -o o.mp4")
                  .render.settings.copyUnchanged,
              true);
    EXPECT_FALSE(Parse("render b a -o o.mp4").render.settings.copyUnchanged);
}

TEST_F(CommandLine, DoubleDashEndsTheOptions) {
    const Command c = Parse("render -o o.mp4 -- boxscatter -x.mp4 --quiet");
    ASSERT_EQ(c.kind, Command::Kind::kRender) << c.usageError;
    EXPECT_EQ(c.render.transition.bundle, "boxscatter");
    ASSERT_EQ(c.render.clips.size(), 2u);
    EXPECT_EQ(c.render.clips[0].path, "-x.mp4");
    EXPECT_EQ(c.render.clips[1].path, "--quiet");
    EXPECT_FALSE(c.render.quiet);
}

// The help lists every option of the table, each once; --version names the
// FFmpeg libraries.
TEST_F(CommandLine, HelpAndVersionComeFromWhatTheProgramHas) {
    const Command help = Parse("render --help");
    ASSERT_EQ(help.kind, Command::Kind::kHelp);
    for (const tavhost::Option& o : tavhost::RenderOptions()) {
        // Its line: "  -o, --output OUT   ..." or "  --quiet  ...".
        const std::string line = "\n  " + (o.alias ? std::string(o.alias) + ", " : "") + o.name;
        const size_t at = help.help.find(line + " ");
        EXPECT_NE(at, std::string::npos) << o.name;
        EXPECT_EQ(help.help.find(line + " ", at + 1), std::string::npos) << o.name;
        EXPECT_EQ(tavhost::FindOption(o.name), &o);
        if (o.alias) {
            EXPECT_EQ(tavhost::FindOption(o.alias), &o);
        }
    }
    for (const char* command : {"list", "placeholder", "demo", "join"}) {
        const Command c = Parse(std::string(command) + " --help");
        ASSERT_EQ(c.kind, Command::Kind::kHelp) << command;
        EXPECT_EQ(c.help.rfind(std::string("usage: tavhost ") + command, 0), 0u) << c.help;
        EXPECT_NE(c.help.find("\n  "), std::string::npos) << c.help;  // its options' lines
    }
    for (const char* line : {"--version", "version"}) {
        const Command v = Parse(line);
        ASSERT_EQ(v.kind, Command::Kind::kHelp) << line;
        EXPECT_EQ(v.help.rfind("tavhost ", 0), 0u) << v.help;
        EXPECT_NE(v.help.find("libavformat "), std::string::npos) << v.help;
    }
}

// What a render takes when not told is shown where it is used: --help, the
// manual page and the values a bare command line leaves, all from one place.
TEST_F(CommandLine, DefaultsAreShownAsTheyAreTaken) {
    namespace d = tavhost::defaults;
    const Command help = Parse("render --help");
    const Command man = Parse("--man");
    const struct {
        const char* option;
        std::string value;
    } shown[] = {{"--variant", tavhost::NumberText(d::kVariant)},
                 {"--speed", tavhost::NumberText(d::kSpeed)},
                 {"--crf", tavhost::NumberText(d::kCrf)},
                 {"--preset", d::kPreset},
                 {"--still-duration", tavhost::NumberText(d::kStillSeconds)}};
    for (const auto& [option, value] : shown) {
        const size_t line = help.help.find("\n  " + std::string(option) + " ");
        ASSERT_NE(line, std::string::npos) << option;
        size_t end = help.help.find("\n  -", line + 1);
        const std::string text = help.help.substr(line, end - line);
        EXPECT_NE(text.find("(default " + value + ")"), std::string::npos) << text;
        EXPECT_EQ(text.find("default", text.find("(default ") + 9), std::string::npos) << text;
        EXPECT_NE(man.help.find("(default " + value + ")"), std::string::npos) << option;
    }
    const Command bare = Parse("render boxscatter a.mp4 b.mp4 -o out.mp4");
    ASSERT_EQ(bare.kind, Command::Kind::kRender) << bare.usageError;
    EXPECT_EQ(bare.render.transition.variant, d::kVariant);
    EXPECT_EQ(bare.render.transition.speed, d::kSpeed);
    EXPECT_FALSE(bare.render.settings.crf || bare.render.settings.preset ||
                 bare.render.settings.stillSeconds);
    // Ranges are the same constants in the messages.
    const Command variant = Parse("render boxscatter --variant 40000 a.mp4 -o out.mp4");
    EXPECT_NE(variant.usageError.find("1 to " + tavhost::NumberText(d::kVariantMax)),
              std::string::npos)
        << variant.usageError;
    const Command size = Parse("render boxscatter --size 1x1 a.mp4 -o out.mp4");
    EXPECT_NE(size.usageError.find(tavhost::NumberText(d::kSizeMax)), std::string::npos)
        << size.usageError;
}

// The manual page holds every option of every command, as roff names it,
// and every edit-file key.
TEST_F(CommandLine, TheManualPageComesFromTheSameTables) {
    const Command man = Parse("--man");
    ASSERT_EQ(man.kind, Command::Kind::kHelp);
    EXPECT_EQ(man.help.rfind(".TH TAVHOST 1 ", 0), 0u);
    auto roff = [](const std::string& name) {
        std::string out;
        for (const char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
        return "\\fB" + out + "\\fR";
    };
    for (const tavhost::Option& o : tavhost::RenderOptions()) {
        EXPECT_NE(man.help.find(roff(o.name)), std::string::npos) << o.name;
        if (o.key) {
            EXPECT_NE(man.help.find(".TP\n" + roff(o.key)), std::string::npos) << o.key;
        }
    }
    for (const auto* table : {&tavhost::ListOptions(), &tavhost::PlaceholderOptions(),
                              &tavhost::DemoOptions(), &tavhost::JoinOptions()})
        for (const tavhost::CommandOption& o : *table)
            EXPECT_NE(man.help.find(roff(o.name)), std::string::npos) << o.name;
    for (size_t at = 0; (at = man.help.find('\n', at)) != std::string::npos; ++at)
        EXPECT_NE(man.help[at + 1 < man.help.size() ? at + 1 : at], '\'')
            << "a line roff would take for a request";
}

// --- Edit files, read as the plan reads them. ---

class EditFile : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("tav-editfile-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // Loads `json` with the command line's settings `cli` and output.
    bool Load(const std::string& json, tavhost::OutputSettings cli = {}, std::string output = "") {
        const std::string path = dir_ + "/edit.json";
        std::ofstream(path) << json;
        settings = cli;
        this->output = output;
        return tavhost::LoadEdit(path, &edit, &settings, &this->output, &error);
    }

    static inline std::string dir_;
    tavhost::Edit edit;
    tavhost::OutputSettings settings;
    std::string output, error;
};

// A null join is a plain cut; an object for "joins" holds at every join.
TEST_F(EditFile, JoinsAreACutOrATransitionEach) {
    ASSERT_TRUE(Load(R"({"clips": ["a.mp4", "b.mp4", "c.mp4", "d.mp4"],
        "joins": [{"bundle": "boxscatter", "seed": 3}, null, {"bundle": "boxscatter",
        "variant": 2, "length": "12f"}]})"))
        << error;
    ASSERT_EQ(edit.joins.size(), 3u);
    ASSERT_TRUE(edit.joins[0] && edit.joins[2]);
    EXPECT_FALSE(edit.joins[1]);
    EXPECT_EQ(edit.joins[0]->seed, 3u);
    EXPECT_FALSE(edit.joins[2]->seed);
    EXPECT_EQ(edit.joins[2]->variant, 2);
    ASSERT_TRUE(edit.joins[2]->length);
    EXPECT_TRUE(edit.joins[2]->length->frames);
    EXPECT_EQ(edit.joins[2]->length->value, 12);
    EXPECT_EQ(edit.joins[2]->where, "joins[2]");

    for (const int clips : {2, 3, 5}) {
        std::string list;
        for (int i = 0; i < clips; ++i) list += std::string(i ? ", " : "") + "\"c.mp4\"";
        ASSERT_TRUE(Load(R"({"clips": [)" + list + R"(], "joins": {"bundle": "boxscatter",
            "speed": 0.75}})"))
            << error;
        ASSERT_EQ(edit.joins.size(), size_t(clips - 1));
        for (size_t j = 0; j < edit.joins.size(); ++j) {
            ASSERT_TRUE(edit.joins[j]) << clips;
            EXPECT_FLOAT_EQ(edit.joins[j]->speed, 0.75f);
            EXPECT_EQ(edit.joins[j]->where, "joins[" + std::to_string(j) + "]");
        }
    }
}

// What the command line gives wins over the file; the file fills the rest.
TEST_F(EditFile, TheCommandLineWinsOverTheFile) {
    const std::string json = R"({"clips": ["a.mp4"], "output": {"size": "640x360", "rate": 25,
        "crf": 30, "preset": "slow", "fit": "crop", "still_duration": 2,
        "copy_unchanged": true, "path": "out.mp4"}})";
    ASSERT_TRUE(Load(json)) << error;
    EXPECT_EQ(settings.width, 640);
    EXPECT_EQ(settings.height, 360);
    EXPECT_EQ(settings.rate->num, 25);
    EXPECT_EQ(settings.crf, 30);
    EXPECT_EQ(settings.preset, "slow");
    EXPECT_EQ(settings.fit, tavhost::media::Fit::kCrop);
    EXPECT_EQ(settings.stillSeconds, 2.0);
    EXPECT_EQ(settings.copyUnchanged, true);
    EXPECT_EQ(output, (fs::path(dir_) / "out.mp4").string());

    const Command c = ParseCommandLine(
        Words("render --edit e.json --size 320x240 --rate 50 --crf 10 --preset fast --fit stretch "
              "--still-duration 3 --no-copy-unchanged -o mine.mkv"));
    ASSERT_EQ(c.kind, Command::Kind::kRender) << c.usageError;
    ASSERT_TRUE(Load(json, c.render.settings, c.render.output)) << error;
    EXPECT_EQ(settings.width, 320);
    EXPECT_EQ(settings.height, 240);
    EXPECT_EQ(settings.rate->num, 50);
    EXPECT_EQ(settings.crf, 10);
    EXPECT_EQ(settings.preset, "fast");
    EXPECT_EQ(settings.fit, tavhost::media::Fit::kStretch);
    EXPECT_EQ(settings.stillSeconds, 3.0);
    EXPECT_EQ(settings.copyUnchanged, false);
    EXPECT_EQ(output, "mine.mkv");
}

struct PlaceCase {
    const char* name;
    const char* json;
    const char* says;
};

void PrintTo(const PlaceCase& c, std::ostream* os) {
    *os << c.name;
}

class Places : public EditFile, public ::testing::WithParamInterface<PlaceCase> {};

// A mistake is placed where it is, whatever lists and objects come before it
// in the same list.
TEST_P(Places, NameTheValueAtFault) {
    EXPECT_FALSE(Load(GetParam().json));
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Places,
    ::testing::Values(
        PlaceCase{"afterAnObject", R"({"clips": [{"path": "a.mp4"}, {"path": "b.mp4", "in": 1,
            "in": 2}]})",
                  "clips[1].in: is given twice"},
        PlaceCase{"afterTwoObjects", R"({"clips": [{"path": "a.mp4"}, {"path": "b.mp4"},
            {"path": "c.mp4", "out": 1, "out": 2}]})",
                  "clips[2].out: is given twice"},
        PlaceCase{"afterAStringAndAnObject", R"({"clips": ["a.mp4", {"path": "b.mp4"},
            {"path": "c.mp4", "path": "d.mp4"}]})",
                  "clips[2].path: is given twice"},
        PlaceCase{"afterANullAndAnObject", R"({"clips": ["a.mp4", "b.mp4", "c.mp4", "d.mp4"],
            "joins": [{"bundle": "boxscatter"}, null, {"bundle": "boxscatter", "seed": 1,
            "seed": 2}]})",
                  "joins[2].seed: is given twice"},
        PlaceCase{"afterANestedList", R"({"clips": ["a.mp4", "b.mp4"], "open": {"bundle":
            "boxrevealblack"}, "joins": [{"bundle": "boxscatter", "x": [[1], {"y": [2]}],
            "seed": 1, "seed": 2}]})",
                  "joins[0].seed: is given twice"},
        PlaceCase{"valueAfterAnObject", R"({"clips": [{"path": "a.mp4"}, {"path": "b.mp4",
            "in": "soon"}]})",
                  "clips[1].in"}),
    [](const auto& info) { return std::string(info.param.name); });

struct KeyCase {
    const char* name;
    const char* output;  // the "output" object
    const char* says;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class OutputKeys : public EditFile, public ::testing::WithParamInterface<KeyCase> {};

// A key's value of the wrong kind or range is named with its place and what it takes.
TEST_P(OutputKeys, AreCheckedAsTheOptionsAre) {
    EXPECT_FALSE(Load(std::string(R"({"clips": ["a.mp4"], "output": )") + GetParam().output + "}"));
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputKeys,
    ::testing::Values(
        KeyCase{"crfRange", R"({"crf": 52})", "output.crf: must be a whole number from 0 to 51"},
        KeyCase{"crfText", R"({"crf": "20"})", "output.crf: must be a whole number"},
        KeyCase{"crfFraction", R"({"crf": 20.5})", "output.crf: must be a whole number"},
        KeyCase{"size", R"({"size": "1x1"})", "output.size: must be WIDTHxHEIGHT"},
        KeyCase{"rate", R"({"rate": 0})", "output.rate: must be frames a second"},
        KeyCase{"preset", R"({"preset": "quick"})", "output.preset: must be one of ultrafast"},
        KeyCase{"copy", R"({"copy_unchanged": 1})", "output.copy_unchanged: must be true or false"},
        KeyCase{"path", R"({"path": ""})", "output.path: must be a file or folder name"},
        KeyCase{"unknown", R"({"format": "mkv"})",
                "output.format: unknown key (known here: "
                "copy_unchanged, crf, fit, path, preset, rate"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tavtest
