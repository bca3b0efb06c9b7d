// A clip's sound on the reader's thread: decoded, resampled to the output's
// format and placed by its timestamps on a timeline that starts with the
// clip's picture; with ClipReader::Options::soundGrid, moved onto the
// movie's packet grid, each whole packet noted with the packet itself, and
// the sound deep inside copied pictures left undecoded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "av_util.h"
#include "clip_reader.h"

namespace tavhost::media {

class SoundDecoder {
  public:
    // Damage at `pts` in the stream's time base (AV_NOPTS_VALUE: unknown).
    using NoteDamage = std::function<void(AVRational, int64_t)>;

    // Stream `stream` of `fmt`, read with `options`; the picture starts at
    // `videoStart` seconds. Null when it cannot be decoded.
    static std::unique_ptr<SoundDecoder> Open(const AVFormatContext* fmt, int stream,
                                              const ClipReader::Options& options, double videoStart,
                                              NoteDamage damage);

    // Whether its sound is still read (sound in a form that cannot be
    // converted leaves the rest of the clip mute).
    bool Active() const { return active_; }
    int Stream() const { return stream_; }
    // A packet read: decoded, or skipped when the movie copies it.
    void Send(const AVPacket* p);
    // The end of the file: what the decoder holds comes out.
    void Flush();
    // Where the sound placed so far ends, in output samples.
    int64_t End() const { return base_ + int64_t(sound_.size() / size_t(Channels())); }
    // Output samples [start, end) into `frame` (its audio, anchors and
    // whether all of it was decoded); what lies before `start` is let go.
    void Cut(int64_t start, int64_t end, Frame* frame);
    // Everything decoded is dropped: reading starts again from a seek.
    void Reset();

  private:
    SoundDecoder(const AVFormatContext* fmt, int stream, const ClipReader::Options& options,
                 double videoStart, NoteDamage damage);
    int Channels() const { return options_.output.sound.channels; }
    void Drain();
    void Take(AVFrame* frame);
    // Sound goes where its timestamps put it: when the sound starting at
    // `pts` (`delay` output samples of it still inside the resampler) would
    // land more than a hair from where the sound so far ends (a gap in the
    // packets, or packets that run back), the next sample moves there.
    void PlaceAt(int64_t pts, int64_t delay);
    // Places `n` samples at next_ (before the picture's start, or over sound
    // already placed, they are dropped; a gap is filled with silence).
    void Append(const float* data, int n);
    // Whether a packet is deep enough inside copied pictures to be skipped.
    bool Skippable(const AVPacket* p) const;
    // The shift that puts the packets of a clip whose first decoded frame
    // has `samples` samples and goes at `at` onto the grid.
    int64_t GridShift(int64_t at, int samples) const;

    const AVFormatContext* fmt_;
    int stream_;
    const ClipReader::Options& options_;
    double videoStart_;
    NoteDamage damage_;
    bool active_ = true;
    CodecPtr dec_;
    SwrPtr swr_;
    // Sound at the output rate from sample base_ on, interleaved.
    std::deque<float> sound_;
    int64_t base_ = 0;
    int64_t next_ = -1;  // where the next decoded sample goes
    int64_t shift_ = 0;  // how far the first sound was moved onto the packet grid
    // Where each whole decoded packet begins on the sound timeline, with the
    // packet; the packets sent whose sound has not come out yet.
    std::deque<SoundAnchor> anchors_;
    std::deque<std::shared_ptr<const AVPacket>> sent_;
    // Stretches of the timeline left silent because their packets are
    // copied, and the last packet skipped, which primes the decoder again.
    std::deque<std::pair<int64_t, int64_t>> undecoded_;
    PacketPtr lastSkipped_{Allocated(av_packet_alloc())};
};

}  // namespace tavhost::media
