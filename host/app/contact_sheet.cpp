#include "contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "host.h"
#include "media.h"
#include "scoped_port.h"
#include "tav/mac_roman.h"

namespace tavhost {

namespace {

constexpr int kMargin = 8, kLabel = 18, kTitle = 30, kThumbWidth = 240;

}  // namespace

ContactSheet::ContactSheet(const std::string& path, int frameWidth, int frameHeight,
                           int32_t transitionFrames, const std::string& title)
    : staged_(path, StagedOutput::Kind::kFile,
              ".partial" + std::filesystem::path(path).extension().string()),
      total_(transitionFrames) {
    count_ = std::clamp<int32_t>(transitionFrames, 1, 12);
    cols_ = std::min(4, count_);
    const int rows = (count_ + cols_ - 1) / cols_;
    thumbW_ = kThumbWidth;
    // Thumbnails keep the frame's shape, within what a sheet can hold.
    const int64_t h = int64_t(thumbW_) * frameHeight / std::max(frameWidth, 1);
    thumbH_ = int(std::clamp<int64_t>(h, 2, 2000));
    const int w = kMargin + cols_ * (thumbW_ + kMargin);
    const int sheetH = kTitle + rows * (thumbH_ + kLabel + kMargin) + kMargin;
    const Rect bounds = {0, 0, int16_t(sheetH), int16_t(w)};
    if (NewGWorld(&world_, 32, &bounds, nullptr, nullptr, 0) != noErr) world_ = nullptr;
    for (int32_t i = 0; i < count_; ++i)
        picks_.push_back(
            count_ == 1 ? 0
                        : int32_t(std::lround(double(i) * (transitionFrames - 1) / (count_ - 1))));
    if (!world_) return;
    ScopedPort port(world_);
    const RGBColor back = {0x2000, 0x2000, 0x2000};
    RGBBackColor(&back);
    EraseRect(&bounds);
    Text(kMargin, kTitle - 10, 16, title);
}

ContactSheet::~ContactSheet() {
    DisposeGWorld(world_);
}

void ContactSheet::Offer(int32_t i, const PixMap& frame) {
    const auto it = std::find(picks_.begin(), picks_.end(), i);
    if (it == picks_.end() || !world_) return;
    const int slot = int(it - picks_.begin());
    const int x = kMargin + (slot % cols_) * (thumbW_ + kMargin);
    const int y = kTitle + (slot / cols_) * (thumbH_ + kLabel + kMargin);
    PixMap& sheet = **GetGWorldPixMap(world_);
    media::Scale(frame.baseAddr, frame.bounds.right - frame.bounds.left,
                 frame.bounds.bottom - frame.bounds.top, frame.rowBytes / 4,
                 TavPixelRow(sheet, y) + x, thumbW_, thumbH_, sheet.rowBytes / 4);
    ScopedPort port(world_);
    Text(x, y + thumbH_ + kLabel - 5, 12,
         "frame " + std::to_string(i + 1) + " of " + std::to_string(total_));
}

bool ContactSheet::Save(std::string* error) {
    if (!world_) {
        *error = "cannot make the contact sheet '" + staged_.Path() + "': out of memory";
        return false;
    }
    PixMap& sheet = **GetGWorldPixMap(world_);
    const bool ok =
        media::WriteImage(staged_.TempPath(), media::ImageFormatOf(staged_.Path()), sheet.baseAddr,
                          sheet.bounds.right, sheet.bounds.bottom, sheet.rowBytes / 4, error);
    if (!ok) staged_.NameUserPath(error);
    return ok;
}

void ContactSheet::Text(int x, int y, short size, const std::string& utf8) {
    Str255 s;
    ToPascal(tav::Utf8ToMacRoman(utf8), s);
    TextSize(size);
    ForeColor(whiteColor);
    MoveTo(short(x), short(y));
    DrawString(s);
}

}  // namespace tavhost
