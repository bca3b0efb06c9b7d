// A still picture's EXIF orientation where FFmpeg's decoder does not give
// it: a TIFF file's own tag, a PNG's eXIf chunk, a WebP's EXIF chunk.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tavhost::media {

// The orientation tag (1 to 8) of the picture in `path`, read from its first
// bytes; 0 when it has none, or the file is not one of those formats.
int ExifOrientation(const std::string& path);

// The orientation read from TIFF-structured data (a TIFF file's start, or an
// EXIF block after its "Exif\0\0"); 0 when it holds none.
int OrientationOfTiff(const uint8_t* data, size_t size);

// The display matrix (as FFmpeg gives with a picture) for orientation 2 to
// 8; false for 1 and anything else.
bool OrientationMatrix(int orientation, std::array<int32_t, 9>* matrix);

}  // namespace tavhost::media
