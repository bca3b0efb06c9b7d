// A movie's container: its streams, its header and tags, the packets
// interleaved by time, and its trailer.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "av_util.h"

namespace tavhost::media {

class Muxer {
  public:
    // A container for `path`, named by `container` or else by the file name.
    // Messages name it `shown`.
    static std::unique_ptr<Muxer> Open(const std::string& path, const std::string& container,
                                       const std::string& shown, std::string* error);
    ~Muxer();
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // WebM carries VP9 and Opus; the other containers H.264 and AAC.
    bool Webm() const;
    // Whether its streams keep their codecs' headers out of band.
    bool GlobalHeader() const;
    AVStream* AddStream();
    // Opens the file (unless the format writes none) and writes the tags and
    // the header: a file gets its index first, for players that stream it;
    // a pipe, which cannot be rewound, a fragmented movie written as it goes.
    // `patchedLater`: a tag's value is overwritten once the file is
    // complete, so the container keeps no checksums over it.
    bool Start(const std::vector<std::pair<std::string, std::string>>& tags, std::string* error,
               bool patchedLater = false);
    // `pkt`, its times in `from`, to `stream`, interleaved with the others by time.
    bool Write(AVPacket* pkt, AVRational from, AVStream* stream, std::string* error);
    bool Finish(std::string* error);
    // A failure writing this movie, in one line naming it.
    std::string Failed(const std::string& why) const;

  private:
    Muxer(AVFormatContext* oc, std::string path, std::string shown)
        : oc_(oc), path_(std::move(path)), shown_(std::move(shown)) {}
    AVFormatContext* oc_;
    std::string path_;
    std::string shown_;
};

}  // namespace tavhost::media
