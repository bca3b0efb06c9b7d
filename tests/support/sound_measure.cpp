#include "support/sound_measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/clip_fixtures.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace tavtest {

std::vector<float> Samples(const std::string& movie) {
    bool ok = false;
    const std::string raw = Sh("ffmpeg -v error -i '" + movie + "' -map 0:a:0 -f f32le -", &ok);
    EXPECT_TRUE(ok) << movie;
    std::vector<float> out(raw.size() / sizeof(float));
    std::memcpy(out.data(), raw.data(), out.size() * sizeof(float));
    return out;
}

std::vector<std::string> SoundPackets(const std::string& movie) {
    std::vector<std::string> out;
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, movie.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "cannot open " << movie;
        return out;
    }
    const int s = avformat_find_stream_info(f, nullptr) >= 0
                      ? av_find_best_stream(f, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)
                      : -1;
    AVPacket* p = av_packet_alloc();
    while (s >= 0 && p && av_read_frame(f, p) >= 0) {
        if (p->stream_index == s)
            out.emplace_back(reinterpret_cast<char*>(p->data), size_t(p->size));
        av_packet_unref(p);
    }
    av_packet_free(&p);
    avformat_close_input(&f);
    EXPECT_GE(s, 0) << movie << " has no sound";
    return out;
}

double ErrorEnergy(const std::vector<float>& a, const std::vector<float>& exact, size_t from,
                   size_t to) {
    double e = 0;
    for (size_t i = from; i < to && i < a.size() && i < exact.size(); ++i)
        e += double(a[i] - exact[i]) * double(a[i] - exact[i]);
    return e;
}

double ErrorEnergyAt(const std::vector<float>& a, const std::vector<float>& exact, int channels,
                     long lag, size_t from, size_t to) {
    const size_t c = size_t(channels);
    double e = 0;
    for (size_t t = from; t < to && t * c < exact.size(); ++t) {
        const long u = long(t) + lag;
        if (u < 0 || size_t(u) * c >= a.size()) continue;
        for (size_t k = 0; k < c; ++k) {
            const double d = double(a[size_t(u) * c + k]) - double(exact[t * c + k]);
            e += d * d;
        }
    }
    return e;
}

double PeakErrorAt(const std::vector<float>& a, const std::vector<float>& exact, int channels,
                   int channel, long lag, size_t from, size_t to) {
    const size_t c = size_t(channels);
    double peak = 0;
    for (size_t t = from; t < to && t * c < exact.size(); ++t) {
        const long u = long(t) + lag;
        if (u < 0 || size_t(u) * c >= a.size()) continue;
        peak = std::max(peak, std::abs(double(a[size_t(u) * c + size_t(channel)]) -
                                       double(exact[t * c + size_t(channel)])));
    }
    return peak;
}

long BestLag(const std::vector<float>& a, const std::vector<float>& exact, int channels, long range,
             size_t from, size_t to) {
    long best = 0;
    double least = ErrorEnergyAt(a, exact, channels, 0, from, to);
    for (long lag = -range; lag <= range; ++lag)
        if (const double e = ErrorEnergyAt(a, exact, channels, lag, from, to); e < least) {
            least = e;
            best = lag;
        }
    return best;
}

}  // namespace tavtest
