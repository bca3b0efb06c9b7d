// Reading clips with FFmpeg's libraries: the probe pass over a clip's
// packets, and the reader that decodes it ahead of use on its own thread into
// frames at the output size and rate, with their sound cut into one chunk per
// output frame.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "aac_units.h"
#include "copy_plan.h"
#include "media_types.h"
#include "picture_convert.h"
#include "render_defaults.h"

struct AVFrame;
struct AVPacket;

namespace tavhost::media {

// A picture and its sound. The picture stays as the clip's filter graph made
// it: YUV420P in the output's own matrix when the clip has that matrix and
// range (so it can go to the encoder untouched), else 0xAARRGGBB pixels.
struct Frame {
    int64_t index = -1;
    int width = 0;
    int height = 0;
    Matrix matrix = Matrix::kBt601;  // the output's, which a YUV picture is in
    std::shared_ptr<const AVFrame> picture;
    std::vector<float> audio;  // interleaved, in the reader's sound format
    // With Options::soundGrid: where the clip's sound packets begin in
    // `audio`, each with its packet.
    std::vector<SoundAnchor> anchors;
    // A copied frame (Options::copied): the clip's packet that goes into the
    // movie for it, in decode order (the k-th copied frame of a run carries
    // the run's k-th packet), as 4-byte-length units without parameter sets,
    // and the reader frame of its own picture.
    std::shared_ptr<const AVPacket> copied;
    int64_t copiedFrame = -1;
    bool soundDecoded = true;  // false: some of `audio` was not decoded (it is copied)

    // The picture when it is YUV420P in the output's matrix, else null.
    const AVFrame* Yuv() const;
    // The picture as 0xAARRGGBB pixels, rows `width` apart, converted on
    // first use (by libyuv's faster conversion when `fast`).
    const std::vector<uint32_t>& Pixels(bool fast = false) const;
    // Filled by Pixels().
    mutable std::vector<uint32_t> pixels;
    mutable bool converted = false;
};

// Where a clip was found damaged, and how much of it could not be decoded.
struct Damage {
    int errors = 0;          // packets or frames the demuxer or decoder refused
    int64_t lostFrames = 0;  // pictures missing inside the file or that did not decode
    double firstAt = -1.0;   // seconds into the clip of the first such damage
    // The file ends before its header says it does: the clip ends where its
    // pictures do, `missingAtEnd` short of the length it promises.
    bool cutShort = false;
    int64_t missingAtEnd = 0;
    double endsAt = -1.0;  // seconds into the clip where its pictures end
    bool Any() const { return errors > 0 || lostFrames > 0 || cutShort; }
};

struct ClipInfo {
    int width = 0;  // display size: rotation applied, square pixels
    int height = 0;
    Rational fps;          // the clip's own rate
    int64_t frames = 0;    // at the clip's own rate, from its timeline
    double seconds = 0.0;  // length of the video timeline
    bool hasAudio = false;
    SoundFormat sound;        // the clip's own sample rate and channels (48 kHz stereo if none)
    bool still = false;       // a single picture: shown for the still duration
    bool cover = false;       // a sound file's cover picture: held for the length of its sound
    int rotation = 0;         // degrees clockwise the picture is turned for display
    std::string upright;      // the filters that turn (and mirror) it upright, each after a comma
    bool interlaced = false;  // the stream says its pictures are interlaced
    bool fieldsUnknown = false;  // the stream does not say: the decoder tells, frame by frame
    bool hdr = false;            // PQ or HLG transfer
    std::string matrix, range;   // colour matrix and range the clip is read with
    int64_t packets = 0;         // video packets in the file
    // Where the clip's timeline starts, in its video stream's time base: its
    // earliest picture's timestamp, which need not be its first packet's (a
    // recording cut inside a group of pictures, leading B pictures).
    int64_t origin = INT64_MIN;  // unknown: the stream's start
    Damage damage;               // what the probe pass found missing
    std::string soundProblem;    // why the clip's sound cannot be decoded, if it cannot
    ColourTags tags;             // the colour description the stream carries
    uint64_t content = 0;        // a hash of every packet the file holds
    AacConfig soundConfig;       // the sound's AAC configuration, when it is AAC
};

struct PacketIndex;

// Opens and probes a clip: one pass over its packets (no decoding) gives the
// timeline, and fills `index` with the video packets when given. Returns
// false and says why in `error`, naming the file.
// Messages name the file `shown` (its path quoted when empty).
bool Probe(const std::string& path, ClipInfo* info, std::string* error,
           PacketIndex* index = nullptr, const std::string& shown = "");

// Decodes a clip ahead of use on its own thread through a filter graph that
// deinterlaces (when the stream says it is interlaced), turns it upright,
// converts it with its own colour matrix and range, fits it into the output
// frame and retimes it to the output rate by timestamps, as FFmpeg's fps
// filter does. Frame k is the clip's picture at time k / fps with its sound
// for that frame. The reader reads forwards only: asking for an earlier frame
// than the last one served restarts decoding from the clip's start.
class ClipReader {
  public:
    struct Options {
        OutputFormat output;             // what the clip is fitted, retimed and resampled to
        Matrix matrix = Matrix::kBt601;  // the output's colour matrix
        Fit fit = Fit::kPad;
        double stillSeconds = defaults::kStillSeconds;
        // The part of the clip used: from `inSeconds` to `outSeconds` (to its
        // end when negative), in seconds of the clip's own timeline.
        double inSeconds = 0.0;
        double outSeconds = -1.0;
        bool fastScaling = false;
        int lookahead = 6;
        // How messages name the clip's file (its path quoted when empty).
        std::string shown;
        // When set and raised (by a signal), reading stops: Get returns null
        // with "interrupted" and the decoding thread ends.
        const std::atomic<bool>* cancel = nullptr;
        // Which frames are made into pixels on the decoding thread, ahead of
        // use (all when unset); the others stay as decoded.
        std::function<bool(int64_t)> pixelsFor;
        // The pictures copied as packets: not decoded at all.
        CopiedPictures copied;
        // When 0 or more, the clip's sound is AAC that may be copied: it is
        // moved by less than half a packet (1024 samples) so that every packet
        // begins at a sample s with (s + soundGrid) a multiple of 1024, and
        // frames note where packets begin (Frame::anchors).
        int soundGrid = -1;
        // With soundGrid: sound deep inside the copied pictures is not
        // decoded (Frame::soundDecoded), since the movie copies it.
        bool skipCopiedSound = false;
    };
    static std::unique_ptr<ClipReader> Open(const std::string& path, const Options& options,
                                            std::string* error);
    // With the clip already probed.
    static std::unique_ptr<ClipReader> Open(const std::string& path, const ClipInfo& info,
                                            const Options& options, std::string* error);
    ~ClipReader();

    // Frame `index` of the clip at the output rate, or null past its end or on
    // a decoding error (then `error` says why).
    const Frame* Get(int64_t index, std::string* error);
    const ClipInfo& Info() const { return info_; }
    // Whether the decoding stops at an out point before the clip's end.
    bool EndsEarly() const;
    int64_t FrameCount() const { return frameCount_; }
    // What decoding found wrong in the whole clip; waits until the decoding
    // thread has read to the clip's end.
    Damage DamageFound();
    // The reader stopped where it is, and what it found wrong so far.
    Damage DamageUntilNow();

  private:
    ClipReader(std::string path, Options options, ClipInfo info);
    std::string Shown() const;
    void Start();
    void Stop();
    void Run();
    void Decode();

    std::string path_;
    Options options_;
    ClipInfo info_;
    int64_t frameCount_ = 0;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Frame>> queue_;
    std::vector<std::unique_ptr<Frame>> spare_;
    std::unique_ptr<Frame> current_;
    bool done_ = false;
    bool stop_ = false;
    std::string threadError_;
    Damage damage_;
};

// Seconds of the clip a reader with `options` serves: the still duration for
// a still image, else the trimmed part of its timeline.
double TrimmedSeconds(const ClipInfo& info, const ClipReader::Options& options);
// Frames of the clip at the output rate (at least one).
int64_t OutputFrames(const ClipInfo& info, const ClipReader::Options& options);

}  // namespace tavhost::media
