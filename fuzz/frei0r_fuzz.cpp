// Fuzzes the frei0r plug-in as an editor drives it: any frame size, any
// parameter values (NaN, infinities, negatives, huge), any times, calls in
// any order. Contracts:
//  - every output pixel is its input's pixel at that place (either input for
//    the mixer) or the bundle's fill colour (white or black);
//  - at progress 0 the mixer gives its first input, at 1 its second; a
//    reveal at 1 and a conceal at 0 give the clip as it is;
//  - the same parameters and time give the same picture.
#include <fuzzer/FuzzedDataProvider.h>

extern "C" {
#include <frei0r.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* contract, const std::string& detail = "") {
    std::fprintf(stderr, "contract broken: %s %s\n", contract, detail.c_str());
    std::abort();
}

const bool kMixer = std::strcmp(TAV_F0R_BUNDLE, "boxscatter") == 0;
const bool kReveal = std::strstr(TAV_F0R_BUNDLE, "reveal") != nullptr;
const uint32_t kFill = std::strstr(TAV_F0R_BUNDLE, "white") ? 0xFFFFFFu : 0x000000u;

double ConsumeParam(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return in.ConsumeProbability<double>();
        case 1:
            return in.PickValueInArray({0.0, 1.0, 0.5, -0.0, 1e300, -1e300});
        case 2:
            return in.PickValueInArray({__builtin_nan(""), __builtin_inf(), -__builtin_inf()});
        case 3:
            return double(in.ConsumeIntegralInRange(-40, 40));
        default:
            return in.ConsumeFloatingPoint<double>();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = f0r_init() == 1;
    if (!ready) Broken("the plug-in finds its bundle");
    FuzzedDataProvider in(data, size);
    const unsigned w = in.ConsumeIntegralInRange(1u, 48u), h = in.ConsumeIntegralInRange(1u, 48u);
    f0r_instance_t inst = f0r_construct(w, h);
    if (!inst) Broken("an instance of a valid size");
    const size_t pixels = size_t(w) * h;
    std::vector<uint32_t> a(pixels), b(pixels), out(pixels), again(pixels);
    for (uint32_t& p : a) p = in.ConsumeIntegral<uint32_t>() | 0xFF000000u;
    for (size_t i = 0; i < pixels; ++i) b[i] = ~a[i] | 0xFF000000u;  // unlike a everywhere
    for (int step = in.ConsumeIntegralInRange(1, 6); step > 0; --step) {
        const int index = in.ConsumeIntegralInRange(-1, 3);
        double value = ConsumeParam(in);
        f0r_set_param_value(inst, &value, index);
        double progress = 0.0;
        f0r_get_param_value(inst, &progress, 0);
        const double time = ConsumeParam(in);
        auto update = [&](std::vector<uint32_t>& into) {
            if (kMixer)
                f0r_update2(inst, time, a.data(), b.data(), nullptr, into.data());
            else
                f0r_update(inst, time, a.data(), into.data());
        };
        update(out);
        update(again);
        if (out != again) Broken("the same time gives the same picture");
        for (size_t i = 0; i < pixels; ++i) {
            const uint32_t p = out[i] & 0xFFFFFFu;
            const bool fromA = p == (a[i] & 0xFFFFFFu), fromB = kMixer && p == (b[i] & 0xFFFFFFu);
            const bool fill = !kMixer && p == kFill;
            if (!fromA && !fromB && !fill)
                Broken("a pixel from the inputs or the fill colour", std::to_string(i));
        }
        const bool whole = kMixer ? progress <= 0.0 : (kReveal ? progress >= 1.0 : progress <= 0.0);
        if (whole)
            for (size_t i = 0; i < pixels; ++i)
                if ((out[i] & 0xFFFFFFu) != (a[i] & 0xFFFFFFu))
                    Broken("at its untouched end the output is the clip");
        if (kMixer && progress >= 1.0)
            for (size_t i = 0; i < pixels; ++i)
                if ((out[i] & 0xFFFFFFu) != (b[i] & 0xFFFFFFu))
                    Broken("at progress 1 the mixer gives its second input");
    }
    f0r_destruct(inst);
    return 0;
}
