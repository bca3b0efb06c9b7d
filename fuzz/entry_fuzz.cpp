// Fuzzes the bundles' entry point through a hostile host: the input picks the
// bundle, the variant and a sequence of requests with hostile parameter
// blocks, and makes the host's services fail with any code, succeed with
// null results, or lend frames of another size or the output world itself.
// The real host runtime serves everything else, so real pixels move. After
// every call the contracts are checked; a broken one aborts with its name.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "host.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "support/recording_host.h"
#include "support/scripted_rand.h"

using tavtest::RecordingHost;
using tavtest::Svc;

namespace {

const char* const kBundles[] = {"boxscatter", "boxrevealwhite", "boxrevealblack", "boxconcealwhite",
                                "boxconcealblack"};
std::unique_ptr<tavhost::Bundle> gBundles[5];

std::string gContext;  // the request in progress, for the report

[[noreturn]] void Broken(const char* contract, const std::string& detail = "") {
    std::fprintf(stderr, "contract broken: %s %s\n  during %s\n", contract, detail.c_str(),
                 gContext.c_str());
    std::abort();
}

// Source frames: a pattern, sound of any length, or a refusal.
class HostileClips : public tavhost::FrameProvider {
  public:
    explicit HostileClips(FuzzedDataProvider& in)
        : refuseFrom_(in.ConsumeIntegralInRange<int32_t>(-2, 1 << 20)),
          refusal_(TavPluginResult(in.ConsumeIntegralInRange<int>(1, 255))),
          audioFloats_(in.ConsumeIntegralInRange<size_t>(0, 4000)),
          volume_(in.ConsumeIntegral<int16_t>()) {}

    TavPluginResult ProvideFrame(int32_t number, bool, PixMap* picture, std::vector<float>& audio,
                                 int16_t& volume) override {
        if (number >= refuseFrom_ && refuseFrom_ >= 0) return refusal_;
        const int w = picture ? picture->bounds.right - picture->bounds.left : 0;
        const int h = picture ? picture->bounds.bottom - picture->bounds.top : 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                TavPixelRow(*picture, y)[x] =
                    0xFF000000u | (uint32_t(number) * 31u + uint32_t(x * 7 + y));
        audio.assign(audioFloats_, 0.25f);
        volume = volume_;
        return kPluginOK;
    }

  private:
    int32_t refuseFrom_;
    TavPluginResult refusal_;
    size_t audioFloats_;
    int16_t volume_;
};

// How GetFrame lends: as asked, at another size, or the output world itself.
struct LendingMode {
    int kind = 0;  // 0 as asked, 1 another size, 2 the output world
    int32_t width = 1, height = 1;
    GWorldPtr output = nullptr;
};
LendingMode gLending;
TavProcs gRecorded;

TavPluginResult HostileGetFrame(TavPluginInstance instance, int32_t number, GWorldPtr* world,
                                int32_t width, int32_t height, int32_t quality, int16_t* volume,
                                TavFrameCookie* cookie) {
    if (gLending.kind == 1) {
        width = gLending.width;
        height = gLending.height;
    }
    const TavPluginResult code =
        gRecorded.GetFrame(instance, number, world, width, height, quality, volume, cookie);
    if (code == kPluginOK && gLending.kind == 2 && world && *world) *world = gLending.output;
    return code;
}

Rect ConsumeRect(FuzzedDataProvider& in, const Rect& near) {
    if (in.ConsumeBool()) {
        // Near the world: the interesting edges.
        auto around = [&](int16_t v) {
            return int16_t(std::clamp(v + in.ConsumeIntegralInRange<int>(-70, 70), -32768, 32767));
        };
        return {around(near.top), around(near.left), around(near.bottom), around(near.right)};
    }
    Rect r = {in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>(),
              in.ConsumeIntegral<int16_t>(), in.ConsumeIntegral<int16_t>()};
    // Any edges, the widest and tallest included, but no more than 2^21
    // pixels in all: a bundle walks every box of the rectangle, and a run must
    // stay well inside the time limit.
    const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
    constexpr int64_t kMostPixels = int64_t(1) << 21;
    if (w > 0 && h > 0 && w * h > kMostPixels) {
        if (w >= h)
            r.bottom = int16_t(r.top + std::max<int64_t>(1, kMostPixels / w));
        else
            r.right = int16_t(r.left + std::max<int64_t>(1, kMostPixels / h));
    }
    return r;
}

int32_t ConsumeFrameNumber(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<int32_t>(-3, 200);
        case 1:
            return in.ConsumeIntegral<int32_t>();
        case 2:
            return INT32_MAX - in.ConsumeIntegralInRange<int32_t>(0, 3);
        default:
            return INT32_MIN + in.ConsumeIntegralInRange<int32_t>(0, 3);
    }
}

float ConsumeSpeed(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return in.ConsumeFloatingPointInRange<float>(0.0f, 1.0f);
        case 1:
            return NAN;
        case 2:
            return in.ConsumeBool() ? INFINITY : -INFINITY;
        default:
            return in.ConsumeFloatingPoint<float>();
    }
}

std::vector<uint32_t> Pixels(const PixMap& pm) {
    std::vector<uint32_t> out;
    for (int y = 0; y < pm.bounds.bottom - pm.bounds.top; ++y) {
        const uint32_t* row = TavPixelRow(pm, y);
        out.insert(out.end(), row, row + (pm.bounds.right - pm.bounds.left));
    }
    return out;
}

void CheckOutsideFrameRect(const PixMap& pm, const std::vector<uint32_t>& before,
                           const Rect& frameRect) {
    const std::vector<uint32_t> after = Pixels(pm);
    const int w = pm.bounds.right - pm.bounds.left;
    for (size_t i = 0; i < after.size(); ++i) {
        const int x = int(i % size_t(w)) + pm.bounds.left;
        const int y = int(i / size_t(w)) + pm.bounds.top;
        const bool inside = x >= frameRect.left && x < frameRect.right && y >= frameRect.top &&
                            y < frameRect.bottom;
        if (!inside && after[i] != before[i])
            Broken("pixel changed outside frameRect", std::to_string(x) + "," + std::to_string(y));
    }
}

// Only the fade fields of the clip record may change, and only after a
// successful GetClipInfo in the same call.
void CheckClipRecord(const RecordingHost& rec, const TavPluginClipInfo& before,
                     const TavPluginClipInfo& after) {
    bool read = false;
    for (const tavtest::ServiceCall& call : rec.Calls()) {
        if (call.svc == Svc::GetClipInfo && call.result == kPluginOK) read = true;
        if (call.svc == Svc::SetClipInfo && !read) Broken("SetClipInfo without a good GetClipInfo");
    }
    TavPluginClipInfo masked = after;
    masked.fadeIn = before.fadeIn;
    masked.fadeOut = before.fadeOut;
    masked.ver2.fadeInFrames = before.ver2.fadeInFrames;
    masked.ver2.fadeOutFrames = before.ver2.fadeOutFrames;
    if (std::memcmp(&masked, &before, sizeof before) != 0)
        Broken("clip record changed beyond its fade fields");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (int i = 0; i < 5; ++i) {
        std::string error;
        gBundles[i] = tavhost::Bundle::Open(kBundles[i], &error);
        if (!gBundles[i]) Broken("bundle loads", error);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const tavhost::Bundle& bundle = *gBundles[in.ConsumeIntegralInRange(0, 4)];
    const int16_t which =
        in.ConsumeBool() ? int16_t(in.ConsumeIntegralInRange(0, 6)) : in.ConsumeIntegral<int16_t>();
    tavtest::ResetRand(in.ConsumeIntegral<uint32_t>());

    tavhost::Host host;
    RecordingHost rec(host);
    HostileClips clips(in);
    host.SetProvider(&clips);
    host.Transition().speed = ConsumeSpeed(in);
    std::vector<uint8_t> clipBytes = in.ConsumeBytes<uint8_t>(sizeof(TavPluginClipInfo));
    clipBytes.resize(sizeof(TavPluginClipInfo));
    std::memcpy(&host.Clip(), clipBytes.data(), sizeof(TavPluginClipInfo));

    // The output world, its origin anywhere.
    const int16_t w = int16_t(in.ConsumeIntegralInRange(1, 40));
    const int16_t h = int16_t(in.ConsumeIntegralInRange(1, 40));
    const int16_t top = int16_t(in.ConsumeIntegralInRange(-32768, 32767 - h));
    const int16_t left = int16_t(in.ConsumeIntegralInRange(-32768, 32767 - w));
    const Rect bounds = {top, left, int16_t(top + h), int16_t(left + w)};
    GWorldPtr output = nullptr;
    if (NewGWorld(&output, 32, &bounds, nullptr, nullptr, 0) != noErr) Broken("output world");
    PixMap& outMap = **GetGWorldPixMap(output);

    gRecorded = rec.Procs();
    TavProcs procs = gRecorded;
    procs.GetFrame = HostileGetFrame;
    gLending = {};
    gLending.output = output;
    {
        tavhost::TransitionInstance inst(bundle, host, which, procs);
        TavPluginParams& p = inst.Params();
        for (int step = in.ConsumeIntegralInRange(1, 12); step > 0 && in.remaining_bytes();
             --step) {
            rec.Clear();
            for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
                const Svc svc = Svc(in.ConsumeIntegralInRange(0, int(Svc::kCount) - 1));
                const int nth = in.ConsumeIntegralInRange(1, 40);
                if (in.ConsumeBool())
                    rec.ReturnNull(svc, nth);
                else
                    rec.Fail(svc, nth, TavPluginResult(in.ConsumeIntegralInRange(1, 255)));
            }
            gLending.kind = in.ConsumeIntegralInRange(0, 2);
            gLending.width = in.ConsumeIntegralInRange(-2, 50);
            gLending.height = in.ConsumeIntegralInRange(-2, 50);

            static const uint8_t kSelectors[] = {1, 2, 5, 6, 6, 6, 8};
            const uint8_t selector =
                in.ConsumeBool() ? in.PickValueInArray(kSelectors) : in.ConsumeIntegral<uint8_t>();
            p.startFrame = ConsumeFrameNumber(in);
            p.renderFrame = ConsumeFrameNumber(in);
            p.frameCount = ConsumeFrameNumber(in);
            p.proxyOnly = in.ConsumeIntegral<uint8_t>();
            p.frameRect = ConsumeRect(in, bounds);
            p.frame = in.ConsumeIntegralInRange(0, 15) == 0 ? nullptr : output;
            host.Transition().speed = ConsumeSpeed(in);

            gContext =
                "selector " + std::to_string(selector) + " of which " + std::to_string(which) +
                ", lending " + std::to_string(gLending.kind) + ", frames " +
                std::to_string(p.startFrame) + "+" + std::to_string(p.renderFrame) + " of " +
                std::to_string(p.frameCount) + ", frameRect " + std::to_string(p.frameRect.top) +
                "," + std::to_string(p.frameRect.left) + "," + std::to_string(p.frameRect.bottom) +
                "," + std::to_string(p.frameRect.right) + ", output " + (p.frame ? "set" : "null");
            const std::vector<uint32_t> before = Pixels(outMap);
            const TavPluginClipInfo clipBefore = host.Clip();
            const bool hadRecord = p.clientData != nullptr;
            const int32_t result = inst.Send(TavPluginSelector(selector));
            if (result < 0 || result > 255) Broken("result within a byte", std::to_string(result));
            for (const std::string& problem : host.Problems()) {
                // A frame that is the output world itself is locked by the
                // plug-in before the output and given back first, as the
                // pipeline's order has it: the output's saved lock state is
                // then the frame's. Everything else must hold here too.
                if (gLending.kind == 2 && problem.rfind("output pix", 0) == 0) continue;
                Broken("host problem", problem);
            }
            host.ClearProblems();
            for (const tavtest::ServiceCall& call : rec.CallsOf(Svc::MixAudio))
                if (call.a < 0 || call.a > 256) Broken("MixAudio level", std::to_string(call.a));
            CheckClipRecord(rec, clipBefore, host.Clip());
            if (selector == kPlugDoFrame) CheckOutsideFrameRect(outMap, before, p.frameRect);
            if (selector == kPlugTerminate && hadRecord &&
                (p.clientData != nullptr || host.LiveBlockCount() != 0))
                Broken("record freed at Terminate");
        }
    }
    if (host.LiveBlockCount() != 0) Broken("record freed when the instance ends");
    DisposeGWorld(output);
    return 0;
}
