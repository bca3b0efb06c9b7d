#include "exif_orientation.h"

#include <cstring>
#include <fstream>
#include <vector>

extern "C" {
#include <libavutil/display.h>
}

namespace tavhost::media {

namespace {

// The bytes of a picture file that may hold its orientation: its start.
constexpr size_t kHeadBytes = 1 << 20;

uint32_t Get(const uint8_t* p, int bytes, bool little) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = little ? v | uint32_t(p[i]) << (8 * i) : v << 8 | uint32_t(p[i]);
    return v;
}

uint32_t BigEndian32(const uint8_t* p) {
    return Get(p, 4, false);
}

// A PNG's eXIf chunk, walked chunk by chunk up to the picture data.
int FromPng(const std::vector<uint8_t>& b) {
    size_t at = 8;
    while (at + 8 <= b.size()) {
        const uint32_t length = BigEndian32(&b[at]);
        const char* type = reinterpret_cast<const char*>(&b[at + 4]);
        if (length > b.size() - at - 8) return 0;
        if (std::memcmp(type, "eXIf", 4) == 0) return OrientationOfTiff(&b[at + 8], length);
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) return 0;
        at += 12 + size_t(length);
    }
    return 0;
}

// A WebP's EXIF chunk in its RIFF container.
int FromWebp(const std::vector<uint8_t>& b) {
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const uint32_t length = Get(&b[at + 4], 4, true);
        if (length > b.size() - at - 8) return 0;
        if (std::memcmp(&b[at], "EXIF", 4) == 0) {
            const uint8_t* data = &b[at + 8];
            size_t size = length;
            // Some writers keep the JPEG marker's "Exif\0\0" before the block.
            if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) {
                data += 6;
                size -= 6;
            }
            return OrientationOfTiff(data, size);
        }
        at += 8 + size_t(length) + (length & 1);
    }
    return 0;
}

}  // namespace

int OrientationOfTiff(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    bool little;
    if (data[0] == 'I' && data[1] == 'I')
        little = true;
    else if (data[0] == 'M' && data[1] == 'M')
        little = false;
    else
        return 0;
    if (Get(data + 2, 2, little) != 42) return 0;
    const uint32_t ifd = Get(data + 4, 4, little);
    if (ifd > size - 2 || ifd < 8) return 0;
    const uint32_t entries = Get(data + ifd, 2, little);
    for (uint32_t i = 0; i < entries; ++i) {
        const size_t at = size_t(ifd) + 2 + size_t(i) * 12;
        if (at + 12 > size) return 0;
        if (Get(data + at, 2, little) != 274) continue;  // Orientation
        const uint32_t type = Get(data + at + 2, 2, little);
        const uint32_t value = type == 3   ? Get(data + at + 8, 2, little)
                               : type == 4 ? Get(data + at + 8, 4, little)
                                           : 0;
        return value >= 1 && value <= 8 ? int(value) : 0;
    }
    return 0;
}

int ExifOrientation(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 0;
    std::vector<uint8_t> head(kHeadBytes);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    head.resize(size_t(in.gcount()));
    if (head.size() >= 8 &&
        (std::memcmp(head.data(), "II*\0", 4) == 0 || std::memcmp(head.data(), "MM\0*", 4) == 0))
        return OrientationOfTiff(head.data(), head.size());
    if (head.size() >= 8 && std::memcmp(head.data(), "\x89PNG\r\n\x1a\n", 8) == 0)
        return FromPng(head);
    if (head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
        std::memcmp(head.data() + 8, "WEBP", 4) == 0)
        return FromWebp(head);
    return 0;
}

bool OrientationMatrix(int orientation, std::array<int32_t, 9>* matrix) {
    // As FFmpeg's JPEG decoder gives a photo's EXIF orientation: a turn, and
    // for 2, 4, 5 and 7 a mirror image.
    static constexpr struct {
        double degrees;
        bool mirrored;
    } kTurns[] = {{0, true},   {180, false}, {180, true}, {90, true},
                  {90, false}, {-90, true},  {-90, false}};
    if (orientation < 2 || orientation > 8) return false;
    const auto& turn = kTurns[orientation - 2];
    av_display_rotation_set(matrix->data(), turn.degrees);
    if (turn.mirrored) av_display_matrix_flip(matrix->data(), 1, 0);
    return true;
}

}  // namespace tavhost::media
