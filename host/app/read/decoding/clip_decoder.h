// Decoding one clip on the reader's thread: its one demuxer's packets routed
// to the video decoder, the sound decoder (sound_decoder.h), or, for a
// copied picture, onto the frames; pictures through the clip's filter graph
// (deinterlace, turn upright, convert with the clip's own matrix, fit,
// retime by timestamps).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <queue>
#include <string>

#include "av_util.h"
#include "clip_graph.h"
#include "clip_reader.h"
#include "h264_units.h"
#include "media_input.h"
#include "packet_index.h"
#include "picture_convert.h"
#include "sound_decoder.h"
#include "user_text.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace tavhost::media {

struct ClipDecoder {
    InputPtr fmt;
    int video = -1;
    int audio = -1;
    std::string graphError;  // why the last filter graph could not be made
    CodecPtr vdec;
    std::unique_ptr<SoundDecoder> sound;  // null when the clip is read mute
    PacketPtr pkt{Allocated(av_packet_alloc())};
    GraphPtr graph;
    AVFilterContext* src = nullptr;
    AVFilterContext* sink = nullptr;
    int graphW = 0, graphH = 0, graphFormat = -1;
    int64_t originPts = 0;  // the video timeline's start, in the stream's time base
    int64_t startPts = 0;   // where reading starts: the origin plus the in point
    int64_t endPts = 0;     // where it ends, relative to startPts
    double videoStart = 0.0;
    static constexpr int64_t kNoPts = INT64_MIN;
    int64_t lastPts = kNoPts;
    int64_t readPts = AV_NOPTS_VALUE;  // the last video packet read, for damage without a time
    bool eof = false;
    bool flushed = false;
    bool seeked = false;  // reading started at the in point, not the file's start
    // After a seek, until the first picture is decoded: whether it lies at or
    // before the in point, as it must for the trim to be frame-exact. Some
    // containers (MPEG-TS and -PS) seek by bytes and can land past it.
    bool checkingSeek = false;
    int64_t seekBack = 0;  // how far before the in point the last seek aimed
    int seeks = 0;         // seeks made again
    Damage damage;
    int64_t decoded = 0;

    // Pictures a replaced graph still held, served before the new graph's.
    std::deque<AvFramePtr> drained;
    // Pictures not decoded (Options::copied): their timestamps, put in
    // order before the last decoded picture stands in for each.
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> unused;
    AvFramePtr lastPicture;
    bool skipping = false;
    // The packets of copied pictures, in decode order, each with the reader
    // frame of its picture: one rides on each copied frame.
    struct CopiedPacket {
        std::shared_ptr<const AVPacket> packet;
        int64_t frame = 0;
    };
    std::deque<CopiedPacket> copiedPackets;
    std::vector<uint8_t> units;  // a copied packet's units with 4-byte lengths

    const ClipReader::Options* options = nullptr;
    const ClipInfo* info = nullptr;

    bool Open(const std::string& path, const ClipReader::Options& o, const ClipInfo& i,
              std::string* error) {
        options = &o;
        info = &i;
        const std::string name = o.shown.empty() ? Quoted(path) : o.shown;
        if (!OpenInput(path, &fmt, error, "clip", name)) return false;
        video = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video < 0) {
            *error = "clip " + name + " has no video";
            return false;
        }
        vdec = OpenDecoder(fmt->streams[video], error, o.fastScaling);
        if (!vdec) {
            *error = "clip " + name + ": " + *error;
            return false;
        }
        const AVStream* vs = fmt->streams[video];
        originPts = vs->start_time != AV_NOPTS_VALUE ? vs->start_time : 0;
        const double in = i.still ? 0.0 : std::max(0.0, o.inSeconds);
        startPts = ReadingStart(originPts, in, vs->time_base.num, vs->time_base.den);
        videoStart = Seconds(startPts, vs->time_base);
        endPts = std::max<int64_t>(1, std::llround(TrimmedSeconds(i, o) / av_q2d(vs->time_base)));
        // From the keyframe at or before the in point; pictures before it
        // only lead up to it (the rate filter drops them).
        // A cover picture comes once, before the sound: its clip is read from
        // the start, the sound before the in point dropped.
        if (in > 0 && !i.cover &&
            av_seek_frame(fmt.get(), video, startPts, AVSEEK_FLAG_BACKWARD) >= 0)
            seeked = checkingSeek = true;
        audio = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        // The probe found whether the sound decodes; a clip it found mute is read mute.
        if (audio >= 0 && i.hasAudio) {
            sound = SoundDecoder::Open(fmt.get(), audio, o, videoStart,
                                       [this](AVRational tb, int64_t pts) { NoteDamage(tb, pts); });
            if (!sound) NoteDamage(fmt->streams[video]->time_base, AV_NOPTS_VALUE);
        }
        if (!sound) audio = -1;
        return true;
    }

    bool BuildGraph(const AVFrame* f, std::string* error);

    // Pictures out of the graph come one at a time, as they are asked for, so
    // a long still or a gap in a variable-rate clip never piles up frames.
    AvFramePtr TakePicture();

    void PushPicture(AVFrame* frame);

    void NoteDamage(AVRational tb, int64_t pts);

    // The seek landed past the in point: aim twice as far before it, and at
    // the file's start once that is as far as it goes. What was decoded since
    // the last seek is dropped.
    void SeekEarlier();

    // Whether sound is still read.
    bool SoundActive() const { return sound && sound->Active(); }

    void Drain();
    void Send(const AVPacket* packet);

    // The reader frame of the picture with timestamp `pts`.
    int64_t FrameOf(int64_t pts) const;
    // Whether a video packet's picture is one nobody looks at: it is copied.
    bool Unused(const AVPacket* p) const;
    // Keeps a copied picture's packet, its units framed as the movie takes them.
    void KeepCopied(const AVPacket* p);

    // The stand-ins for undecoded pictures, in time order; with `all` false
    // those that no later packet can precede.
    void PushStandIns(bool all);

    // A video packet: skipped when its picture is unused (the decoder first
    // gives up every picture before it), else decoded after the stand-ins.
    void SendVideo(const AVPacket* p);

    // Reads and decodes one more packet; false once everything is decoded.
    bool More();
};

}  // namespace tavhost::media
