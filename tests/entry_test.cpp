// The entry point of all five bundles: checks, dispatch, GetInfo,
// Initialize, Terminate, and what each leaves in the parameter block.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <tuple>

#include "support/rig.h"

namespace tavtest {
namespace {

constexpr uint8_t kFill = 0xAB;

// Fills the getInfo blocks with a marker so untouched bytes can be told apart.
void MarkInfo(TavPluginParams& p) {
    auto* bytes = reinterpret_cast<unsigned char*>(&p);
    std::memset(bytes + offsetof(TavPluginParams, getInfo), kFill, sizeof p.getInfo);
    std::memset(bytes + offsetof(TavPluginParams, getInfo2), kFill,
                sizeof(TavPluginParams) - offsetof(TavPluginParams, getInfo2));
}

// Offsets within the block whose byte differs between `a` and `b`.
std::set<size_t> ChangedBytes(const TavPluginParams& a, const TavPluginParams& b) {
    std::set<size_t> out;
    auto* x = reinterpret_cast<const unsigned char*>(&a);
    auto* y = reinterpret_cast<const unsigned char*>(&b);
    for (size_t i = 0; i < sizeof a; ++i)
        if (x[i] != y[i]) out.insert(i);
    return out;
}

// Every byte of the fields GetInfo may write, by field.
std::set<size_t> FieldBytes(std::initializer_list<std::pair<size_t, size_t>> fields) {
    std::set<size_t> out;
    for (auto [offset, size] : fields)
        for (size_t i = 0; i < size; ++i) out.insert(offset + i);
    return out;
}

#define INFO_FIELD(f)                                                       \
    std::pair<size_t, size_t> {                                             \
        offsetof(TavPluginParams, getInfo) + offsetof(TavPluginGetInfo, f), \
            sizeof(TavPluginGetInfo::f)                                     \
    }

class EntryTest : public ::testing::TestWithParam<std::string> {};

TEST_P(EntryTest, RefusesNullBlockAndOldInterfaces) {
    Rig rig(GetParam());
    const TavPluginMainProc main = LoadBundle(GetParam()).Main();
    EXPECT_EQ(main(1, nullptr), kPluginBadParams);

    for (int16_t version : {int16_t(2), int16_t(-1), int16_t(0), int16_t(-32768)}) {
        rig.P().interfaceVersion = version;
        rig.P().selector = kPlugGetInfo;
        const TavPluginParams before = rig.P();
        EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginAppIsTooOld) << version;
        EXPECT_TRUE(ChangedBytes(before, rig.P()).empty());
    }
    EXPECT_TRUE(rig.rec.Calls().empty());
    for (int16_t version : {int16_t(3), int16_t(4), int16_t(32767)}) {
        rig.P().interfaceVersion = version;
        EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginOK) << version;
    }
    rig.ExpectClean();
}

TEST_P(EntryTest, UnhandledSelectorsChangeNoByte) {
    Rig rig(GetParam());
    rig.Start();
    MarkInfo(rig.P());
    for (int selector : {0, 3, 4, 7, 9, 10, 127, 128, 200, 255}) {
        const TavPluginParams before = rig.P();
        EXPECT_EQ(rig.inst.Send(TavPluginSelector(selector)), kPluginOK) << selector;
        rig.P().selector = before.selector;
        EXPECT_TRUE(ChangedBytes(before, rig.P()).empty()) << selector;
    }
    EXPECT_TRUE(rig.rec.Calls().empty());
    rig.ExpectClean();
}

TEST_P(EntryTest, NullServiceTableIsRefusedWhereServicesWouldBeCalled) {
    Rig rig(GetParam());
    rig.Start();
    rig.P().procs = nullptr;
    for (auto selector : {kPlugGetInfo, kPlugFilePlaceHolder, kPlugDoFrame, kPlugTerminate})
        EXPECT_EQ(rig.inst.Send(selector), kPluginBadParams) << int(selector);
    // Initialize with its record present needs no service.
    EXPECT_EQ(rig.inst.Send(kPlugInitialize), kPluginOK);
    void* record = rig.P().clientData;
    rig.P().clientData = nullptr;
    EXPECT_EQ(rig.inst.Send(kPlugInitialize), kPluginBadParams);
    rig.P().clientData = record;
}

TEST_P(EntryTest, DoFrameWithoutRecordTouchesNothing) {
    Rig rig(GetParam());
    SetGWorld(nullptr, nullptr);
    EXPECT_EQ(rig.Frame(0, 10), kPluginBadParams);
    EXPECT_TRUE(rig.rec.Calls().empty());
    CGrafPtr port;
    GDHandle device;
    GetGWorld(&port, &device);
    EXPECT_EQ(port, nullptr);
    EXPECT_EQ(RandCalls(), 0);
}

TEST_P(EntryTest, GetInfoWritesOnlyItsFields) {
    Rig rig(GetParam(), 2);
    MarkInfo(rig.P());
    const TavPluginParams before = rig.P();
    ASSERT_EQ(rig.inst.GetInfo(0.5f), kPluginOK);
    std::set<size_t> allowed = FieldBytes({INFO_FIELD(pluginType),
                                           INFO_FIELD(framesToBeRendered),
                                           INFO_FIELD(takeFromClipBefore),
                                           INFO_FIELD(takeFromClipAfter),
                                           INFO_FIELD(minSpeedFrames),
                                           INFO_FIELD(maxSpeedFrames),
                                           INFO_FIELD(mustTakeFromSingleClips),
                                           INFO_FIELD(defaultFontSize),
                                           {offsetof(TavPluginParams, clientData), sizeof(void*)},
                                           {offsetof(TavPluginParams, selector), 1}});
    for (size_t offset : ChangedBytes(before, rig.P()))
        EXPECT_TRUE(allowed.count(offset)) << "byte " << offset << " changed";
    EXPECT_EQ(rig.P().getInfo.defaultFontSize, 0);
    EXPECT_EQ(rig.P().getInfo.mustTakeFromSingleClips, 1);
    EXPECT_EQ(rig.P().getInfo.minSpeedFrames, 10);
    EXPECT_EQ(rig.P().getInfo.maxSpeedFrames, 120);
    EXPECT_EQ(rig.rec.Count(Svc::GetTransitionInfo), 1);
    EXPECT_EQ(rig.rec.Count(Svc::ReleaseTransitionInfo), 1);
    ASSERT_EQ(rig.rec.CallsOf(Svc::NewPtrClear).size(), 1u);
    EXPECT_EQ(rig.rec.CallsOf(Svc::NewPtrClear)[0].a, 8);
    rig.ExpectClean();
}

TEST_P(EntryTest, GetInfoWithNullTransitionRecordDoesNothing) {
    Rig rig(GetParam());
    MarkInfo(rig.P());
    rig.rec.ReturnNull(Svc::GetTransitionInfo, 1);
    const TavPluginParams before = rig.P();
    EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginOK);
    rig.P().selector = before.selector;
    EXPECT_TRUE(ChangedBytes(before, rig.P()).empty());
    EXPECT_EQ(rig.rec.Count(Svc::ReleaseTransitionInfo), 0);
    EXPECT_EQ(rig.rec.Count(Svc::NewPtrClear), 0);
}

TEST_P(EntryTest, GetInfoPassesOnTransitionFailure) {
    Rig rig(GetParam());
    MarkInfo(rig.P());
    rig.rec.Fail(Svc::GetTransitionInfo, 1, kPluginTryAgainLater);
    const TavPluginParams before = rig.P();
    EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginTryAgainLater);
    rig.P().selector = before.selector;
    EXPECT_TRUE(ChangedBytes(before, rig.P()).empty());
    EXPECT_EQ(rig.rec.Calls().size(), 1u);
    rig.ExpectClean();
}

TEST_P(EntryTest, GetInfoOutOfMemoryReleasesRecordAndWritesNothing) {
    Rig rig(GetParam());
    MarkInfo(rig.P());
    rig.rec.ReturnNull(Svc::NewPtrClear, 1);
    const TavPluginParams before = rig.P();
    EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginOutOfMemory);
    rig.P().selector = before.selector;
    EXPECT_TRUE(ChangedBytes(before, rig.P()).empty());
    EXPECT_EQ(rig.P().clientData, nullptr);
    EXPECT_EQ(rig.rec.Count(Svc::ReleaseTransitionInfo), 1);
    rig.ExpectClean();
}

TEST_P(EntryTest, GetInfoReturnsReleaseCodeWithBlockFilled) {
    Rig rig(GetParam(), 1);
    rig.rec.Fail(Svc::ReleaseTransitionInfo, 1, kPluginCancel);
    EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginCancel);
    EXPECT_NE(rig.P().clientData, nullptr);
    EXPECT_EQ(rig.P().getInfo.framesToBeRendered, 66);
    rig.ExpectClean();
}

TEST_P(EntryTest, RecordIsCreatedOnceAndReusedByInitialize) {
    Rig rig(GetParam(), 4);
    ASSERT_EQ(rig.inst.GetInfo(0.5f), kPluginOK);
    void* record = rig.P().clientData;
    ASSERT_NE(record, nullptr);
    static_cast<EffectDataView*>(record)->frameCount = 99;
    ASSERT_EQ(rig.inst.GetInfo(0.1f), kPluginOK);
    ASSERT_EQ(rig.inst.Initialize(), kPluginOK);
    EXPECT_EQ(rig.P().clientData, record);
    EXPECT_EQ(rig.rec.Count(Svc::NewPtrClear), 1);
    EXPECT_EQ(static_cast<EffectDataView*>(record)->frameCount, 0);
    EXPECT_EQ(static_cast<EffectDataView*>(record)->boxSize, 16);
    EXPECT_EQ(rig.host.LiveBlockCount(), 1u);
}

TEST_P(EntryTest, InitializeOutOfMemory) {
    Rig rig(GetParam(), 1);
    rig.rec.ReturnNull(Svc::NewPtrClear, 1);
    EXPECT_EQ(rig.inst.Initialize(), kPluginOutOfMemory);
    EXPECT_EQ(rig.P().clientData, nullptr);
}

TEST_P(EntryTest, TerminateFreesRecordAndCanRunTwice) {
    Rig rig(GetParam(), 1);
    rig.Start();
    EXPECT_EQ(rig.inst.Terminate(40), kPluginOK);
    EXPECT_EQ(rig.P().clientData, nullptr);
    EXPECT_EQ(rig.host.LiveBlockCount(), 0u);
    EXPECT_EQ(rig.rec.Count(Svc::DisposePtr), 1);
    EXPECT_EQ(rig.inst.Terminate(40), kPluginOK);
    EXPECT_EQ(rig.rec.Count(Svc::DisposePtr), 1);
    EXPECT_EQ(rig.rec.Count(Svc::GetClipInfo), 2);
    EXPECT_EQ(rig.rec.CallsOf(Svc::GetClipInfo)[0].a, 1);
    rig.ExpectClean();
}

TEST_P(EntryTest, TerminateDoesNotWriteBackAnUnreadClipRecord) {
    Rig rig(GetParam(), 1);
    rig.Start();
    std::memset(&rig.host.Clip(), 0x5A, sizeof(TavPluginClipInfo));
    const TavPluginClipInfo before = rig.host.Clip();
    rig.rec.Fail(Svc::GetClipInfo, 1, kPluginFailed);
    EXPECT_EQ(rig.inst.Terminate(40), kPluginOK);
    EXPECT_EQ(rig.rec.Count(Svc::SetClipInfo), 0);
    EXPECT_EQ(std::memcmp(&before, &rig.host.Clip(), sizeof before), 0);
    EXPECT_EQ(rig.P().clientData, nullptr);
    EXPECT_EQ(rig.host.LiveBlockCount(), 0u);
}

TEST_P(EntryTest, TerminateIgnoresFailedWriteBack) {
    Rig rig(GetParam(), 1);
    rig.Start();
    rig.rec.Fail(Svc::SetClipInfo, 1, kPluginFailed);
    EXPECT_EQ(rig.inst.Terminate(40), kPluginOK);
    EXPECT_EQ(rig.P().clientData, nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllBundles, EntryTest, ::testing::ValuesIn(kAllBundles));

// --- Service results are judged by their one byte. ---

// Services that answer with bytes beyond the defined one set: the bundles must
// look at the low byte only, as the interface says.
uint32_t WideReleaseTransitionInfo(TavPluginInstance instance, TavPluginTransitionInfo* info) {
    return 0xFFFFFF00u | RecordingHost::Current().Procs().ReleaseTransitionInfo(instance, info);
}

uint32_t WideGetFrame(TavPluginInstance instance, int32_t number, GWorldPtr* world, int32_t width,
                      int32_t height, int32_t quality, int16_t* volume, TavFrameCookie* cookie) {
    return 0x5A5A5A00u | RecordingHost::Current().Procs().GetFrame(instance, number, world, width,
                                                                   height, quality, volume, cookie);
}

template <class To, class From>
To AsSlot(From f) {
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(f));
}

TEST_P(EntryTest, OnlyTheLowByteOfAServiceResultCounts) {
    Rig rig(GetParam(), 2);
    rig.P().procs->ReleaseTransitionInfo =
        AsSlot<ProxTypeReleaseTransitionInfo>(&WideReleaseTransitionInfo);
    rig.P().procs->GetFrame = AsSlot<ProxTypeGetFrame>(&WideGetFrame);
    EXPECT_EQ(rig.inst.GetInfo(0.5f), kPluginOK);
    EXPECT_EQ(rig.inst.Initialize(), kPluginOK);
    EXPECT_EQ(rig.Frame(3, 10), kPluginOK);
    EXPECT_GT(rig.rec.Count(Svc::Blit), 0);
    rig.ExpectClean();
}

// --- GetInfo's answers per bundle, variant and speed. ---

struct InfoCase {
    std::string bundle;
    int16_t which;
    float speed;
    int type;        // -1: not written
    int32_t frames;  // -1: not written
    int32_t before;  // -1: not written
    int32_t after;   // -1: not written
};

void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << c.bundle << " which " << c.which << " speed " << c.speed;
}

class GetInfoTable : public ::testing::TestWithParam<InfoCase> {};

TEST_P(GetInfoTable, WritesTypeAndTiming) {
    const InfoCase& c = GetParam();
    Rig rig(c.bundle, c.which);
    MarkInfo(rig.P());
    ASSERT_EQ(rig.inst.GetInfo(c.speed), kPluginOK);
    const TavPluginGetInfo& info = rig.P().getInfo;
    const int32_t marker = int32_t(0xABABABAB);
    EXPECT_EQ(int(info.pluginType), c.type < 0 ? kFill : c.type);
    EXPECT_EQ(info.framesToBeRendered, c.frames < 0 ? marker : c.frames);
    EXPECT_EQ(info.takeFromClipBefore, c.before < 0 ? marker : c.before);
    EXPECT_EQ(info.takeFromClipAfter, c.after < 0 ? marker : c.after);
    EXPECT_EQ(info.minSpeedFrames, c.type < 0 ? marker : 10);
    EXPECT_EQ(info.maxSpeedFrames, c.type < 0 ? marker : 120);
    EXPECT_EQ(info.defaultFontSize, 0);
    EXPECT_EQ(info.mustTakeFromSingleClips, 1);
    EXPECT_NE(rig.P().clientData, nullptr);
    rig.ExpectClean();
}

std::vector<InfoCase> InfoCases() {
    std::vector<InfoCase> cases;
    // Worked speeds: 0 -> 10, 0.1 -> 22, 0.25 -> 38, 0.5 -> 66, 0.99 -> 118, 1 -> 120.
    const std::pair<float, int32_t> speeds[] = {{0.0f, 10},
                                                {0.1f, 22},
                                                {0.25f, 38},
                                                {0.5f, 66},
                                                {0.99f, 118},
                                                {1.0f, 120},
                                                {std::nextafter(1.0f / 110.0f, 1.0f), 12},
                                                {1.0f / 110.0f, 12},
                                                {0.0454545f, 14}};
    for (auto [speed, L] : speeds) {
        for (int16_t which = 1; which <= 4; ++which) {
            cases.push_back({"boxscatter", which, speed, 103, L, L, L});
            cases.push_back({"boxrevealwhite", which, speed, 102, L, 0, L});
            cases.push_back({"boxrevealblack", which, speed, 102, L, 0, L});
            cases.push_back({"boxconcealwhite", which, speed, 104, L, L, 0});
            cases.push_back({"boxconcealblack", which, speed, 104, L, L, 0});
        }
        for (const std::string& b : kSingleClipBundles)
            cases.push_back({b, 5, speed, 103, -1, L / 2, L / 2});
    }
    // Variants outside the table.
    for (int16_t which : {int16_t(0), int16_t(5), int16_t(6), int16_t(-1), int16_t(32767)})
        cases.push_back({"boxscatter", which, 0.5f, -1, -1, -1, -1});
    for (int16_t which : {int16_t(0), int16_t(6), int16_t(-3)}) {
        cases.push_back({"boxrevealblack", which, 0.5f, 102, 66, 0, 66});
        cases.push_back({"boxconcealwhite", which, 0.5f, 104, 66, 66, 0});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Variants, GetInfoTable, ::testing::ValuesIn(InfoCases()));

TEST(GetInfoSpeed, OutOfRangeSpeedsStayDefined) {
    const std::pair<float, int32_t> cases[] = {{NAN, 10},
                                               {INFINITY, INT32_MAX - 1},
                                               {1e30f, INT32_MAX - 1},
                                               {-INFINITY, INT32_MIN},
                                               {-1e30f, INT32_MIN},
                                               {-1.0f, -100},
                                               {-0.01f, 8}};
    for (auto [speed, expected] : cases) {
        Rig rig("boxscatter", 1);
        ASSERT_EQ(rig.inst.GetInfo(speed), kPluginOK);
        EXPECT_EQ(rig.P().getInfo.framesToBeRendered, expected) << speed;
    }
}

// The variant number as the bundle sees it is the low 16 bits of `which`.
TEST(GetInfoSpeed, WhichIsReadAsSixteenBits) {
    Rig rig("boxrevealwhite", int16_t(0));
    TavPluginParams& p = rig.P();
    p.selector = kPlugGetInfo;
    rig.host.Transition().speed = 0.5f;
    EXPECT_EQ(rig.host.Call(LoadBundle("boxrevealwhite").Main(), 0x10005, p), kPluginOK);
    EXPECT_EQ(p.getInfo.pluginType, kPluginTransitionBetweenType);
}

// --- Initialize's box sizes. ---

struct BoxCase {
    std::string bundle;
    int16_t which;
    std::optional<int16_t> box;  // none: left as it was
};

void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.bundle << " which " << c.which;
}

class InitializeTable : public ::testing::TestWithParam<BoxCase> {};

TEST_P(InitializeTable, StoresBoxSize) {
    const BoxCase& c = GetParam();
    Rig rig(c.bundle, c.which);
    ASSERT_EQ(rig.inst.Initialize(), kPluginOK);
    auto* data = static_cast<EffectDataView*>(rig.P().clientData);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->boxSize, c.box.value_or(0));
    data->boxSize = 77;
    data->frameCount = 5;
    ASSERT_EQ(rig.inst.Initialize(), kPluginOK);
    EXPECT_EQ(data->boxSize, c.box.value_or(77));
    EXPECT_EQ(data->frameCount, 0);
}

std::vector<BoxCase> BoxCases() {
    std::vector<BoxCase> cases;
    for (const std::string& b : kAllBundles)
        for (int16_t which = 1; which <= 4; ++which)
            cases.push_back({b, which, int16_t(1 << which)});
    for (int16_t which : {int16_t(0), int16_t(5), int16_t(6), int16_t(-2)})
        cases.push_back({"boxscatter", which, std::nullopt});
    for (const char* b : {"boxrevealwhite", "boxrevealblack", "boxconcealwhite"})
        for (int16_t which : {int16_t(0), int16_t(5), int16_t(7), int16_t(-2), int16_t(300)})
            cases.push_back({b, which, which});
    for (int16_t which : {int16_t(0), int16_t(1), int16_t(5), int16_t(7), int16_t(-2)})
        cases.push_back({"boxconcealblack", which, 2});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Variants, InitializeTable, ::testing::ValuesIn(BoxCases()));

// --- Terminate's clip record, byte for byte. ---

struct TerminateCase {
    std::string bundle;
    int16_t which;
    int fade;  // 0 none, 1 fade in, 2 fade out
};

void PrintTo(const TerminateCase& c, std::ostream* os) {
    *os << c.bundle << " which " << c.which;
}

class TerminateTable : public ::testing::TestWithParam<TerminateCase> {};

TEST_P(TerminateTable, ChangesOnlyTheFadeFields) {
    const TerminateCase& c = GetParam();
    Rig rig(c.bundle, c.which);
    rig.Start();
    auto* clipBytes = reinterpret_cast<unsigned char*>(&rig.host.Clip());
    for (size_t i = 0; i < sizeof(TavPluginClipInfo); ++i) clipBytes[i] = uint8_t(i * 7 + 3);
    TavPluginClipInfo expected = rig.host.Clip();
    if (c.fade == 1) {
        expected.fadeIn = 1;
        expected.ver2.fadeInFrames = 40;
    } else if (c.fade == 2) {
        expected.fadeOut = 1;
        expected.ver2.fadeOutFrames = 40;
    }
    ASSERT_EQ(rig.inst.Terminate(40), kPluginOK);
    EXPECT_EQ(std::memcmp(&expected, &rig.host.Clip(), sizeof expected), 0);
    EXPECT_EQ(rig.rec.Count(Svc::SetClipInfo), 1);
}

std::vector<TerminateCase> TerminateCases() {
    std::vector<TerminateCase> cases;
    for (int16_t which : {int16_t(1), int16_t(3), int16_t(5), int16_t(6)}) {
        cases.push_back({"boxscatter", which, 0});
        const bool between = which == 5;
        cases.push_back({"boxrevealwhite", which, between ? 0 : 1});
        cases.push_back({"boxrevealblack", which, between ? 0 : 1});
        cases.push_back({"boxconcealwhite", which, between ? 0 : 2});
        cases.push_back({"boxconcealblack", which, between ? 0 : 2});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Variants, TerminateTable, ::testing::ValuesIn(TerminateCases()));

// --- What each bundle exports. ---

class ExportsTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ExportsTest, ExactlyMainAndThePalette) {
    const std::string path = LoadBundle(GetParam()).Path();
    FILE* pipe = popen(("nm -D --defined-only " + path).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> names;
    char line[512];
    while (fgets(line, sizeof line, pipe)) {
        char addr[64], type[8], name[256];
        if (sscanf(line, "%63s %7s %255s", addr, type, name) == 3) names.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0);
    const std::set<std::string> expected = {"main",      "rgbReddish", "rgbGreen", "rgbLtGray",
                                            "rgbDkGray", "rgbBlack",   "rgbWhite"};
    EXPECT_EQ(names, expected);
}

TEST_P(ExportsTest, PaletteValues) {
    const std::string path = LoadBundle(GetParam()).Path();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr);
    struct Expected {
        const char* name;
        RGBColor rgb;
    };
    const Expected palette[] = {
        {"rgbReddish", {0x6FFF, 0x2FFF, 0x2FFF}}, {"rgbGreen", {0x0000, 0x7FFF, 0x0000}},
        {"rgbLtGray", {0x7FFF, 0x7FFF, 0x7FFF}},  {"rgbDkGray", {0x2FFF, 0x2FFF, 0x2FFF}},
        {"rgbBlack", {0x0000, 0x0000, 0x0000}},   {"rgbWhite", {0xFFFF, 0xFFFF, 0xFFFF}},
    };
    for (const Expected& e : palette) {
        auto* rgb = static_cast<const RGBColor*>(dlsym(handle, e.name));
        ASSERT_NE(rgb, nullptr) << e.name;
        EXPECT_EQ(std::tie(rgb->red, rgb->green, rgb->blue),
                  std::tie(e.rgb.red, e.rgb.green, e.rgb.blue))
            << e.name;
    }
    dlclose(handle);
}

INSTANTIATE_TEST_SUITE_P(AllBundles, ExportsTest, ::testing::ValuesIn(kAllBundles));

}  // namespace
}  // namespace tavtest
