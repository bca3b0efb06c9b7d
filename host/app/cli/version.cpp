#include "version.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace tavhost {

namespace {

std::string Dotted(unsigned version) {
    return std::to_string(AV_VERSION_MAJOR(version)) + "." +
           std::to_string(AV_VERSION_MINOR(version)) + "." +
           std::to_string(AV_VERSION_MICRO(version));
}

}  // namespace

std::string VersionText() {
    const std::pair<const char*, unsigned> libraries[] = {
        {"libavformat", avformat_version()}, {"libavcodec", avcodec_version()},
        {"libavfilter", avfilter_version()}, {"libavutil", avutil_version()},
        {"libswscale", swscale_version()},   {"libswresample", swresample_version()}};
    std::string text =
        std::string("tavhost ") + TAV_VERSION + "\nwith FFmpeg " + av_version_info() + ":";
    for (const auto& [name, version] : libraries)
        text += std::string(" ") + name + " " + Dotted(version);
    return text + "\n";
}

}  // namespace tavhost
