#include "contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "host.h"
#include "image_io.h"
#include "scoped_port.h"
#include "tav/mac_roman.h"
#include "user_text.h"

namespace tavhost {

namespace {

constexpr int kMargin = 8, kLabel = 18, kTitle = 30, kThumbWidth = 240;

}  // namespace

ContactSheet::ContactSheet(const std::string& path, int frameWidth, int frameHeight,
                           const std::string& title, const std::vector<SheetSection>& sections)
    : staged_(path, StagedOutput::Kind::kFile) {
    const bool one = sections.size() == 1;
    const int32_t most = one ? 12 : 4;
    cols_ = 4;
    int rows = 0;
    for (const SheetSection& section : sections) {
        Part part;
        part.frames = section.frames;
        const int32_t count = std::clamp<int32_t>(section.frames, 1, most);
        if (one) cols_ = std::min(4, count);
        for (int32_t i = 0; i < count; ++i)
            part.picks.push_back(
                count == 1 ? 0
                           : int32_t(std::lround(double(i) * (section.frames - 1) / (count - 1))));
        rows += (count + cols_ - 1) / cols_;
        parts_.push_back(std::move(part));
    }
    const int header = one ? 0 : kLabel;
    thumbW_ = kThumbWidth;
    // Thumbnails keep the frame's shape, within what a sheet can hold.
    const int64_t room =
        (30000 - kTitle - kMargin - int64_t(header) * int64_t(parts_.size())) / std::max(1, rows) -
        kLabel - kMargin;
    const int64_t h = int64_t(thumbW_) * frameHeight / std::max(frameWidth, 1);
    thumbH_ = int(std::clamp<int64_t>(std::min(h, room), 2, 2000));
    int y = kTitle;
    for (Part& part : parts_) {
        part.top = y + header;
        const int partRows = (int(part.picks.size()) + cols_ - 1) / cols_;
        y = part.top + partRows * (thumbH_ + kLabel + kMargin);
    }
    const int w = kMargin + cols_ * (thumbW_ + kMargin);
    const Rect bounds = {0, 0, int16_t(std::min(y + kMargin, 32767)), int16_t(w)};
    if (NewGWorld(&world_, 32, &bounds, nullptr, nullptr, 0) != noErr) world_ = nullptr;
    if (!world_) return;
    ScopedPort port(world_);
    const RGBColor back = {0x2000, 0x2000, 0x2000};
    RGBBackColor(&back);
    EraseRect(&bounds);
    Text(kMargin, kTitle - 10, 16, one ? sections[0].label : title);
    if (!one)
        for (size_t k = 0; k < parts_.size(); ++k)
            Text(kMargin, parts_[k].top - 5, 13, sections[k].label);
}

ContactSheet::~ContactSheet() {
    DisposeGWorld(world_);
}

void ContactSheet::Offer(size_t section, int32_t i, const PixMap& frame) {
    if (section >= parts_.size() || !world_) return;
    const Part& part = parts_[section];
    const auto it = std::find(part.picks.begin(), part.picks.end(), i);
    if (it == part.picks.end()) return;
    const int slot = int(it - part.picks.begin());
    const int x = kMargin + (slot % cols_) * (thumbW_ + kMargin);
    const int y = part.top + (slot / cols_) * (thumbH_ + kLabel + kMargin);
    PixMap& sheet = **GetGWorldPixMap(world_);
    if (!media::Scale(frame.baseAddr, frame.bounds.right - frame.bounds.left,
                      frame.bounds.bottom - frame.bounds.top, frame.rowBytes / 4,
                      TavPixelRow(sheet, y) + x, thumbW_, thumbH_, sheet.rowBytes / 4))
        scaleFailed_ = true;
    ScopedPort port(world_);
    Text(x, y + thumbH_ + kLabel - 5, 12,
         "frame " + std::to_string(i + 1) + " of " + std::to_string(part.frames));
}

bool ContactSheet::Save(std::string* error) {
    if (!world_) {
        *error = "cannot make the contact sheet " + Quoted(staged_.Path()) + ": out of memory";
        return false;
    }
    if (scaleFailed_) {
        *error = "cannot make the contact sheet " + Quoted(staged_.Path()) +
                 ": a frame could not be scaled to a thumbnail";
        return false;
    }
    if (!staged_.Prepare(error)) return false;
    PixMap& sheet = **GetGWorldPixMap(world_);
    return media::WriteImage(staged_.TempPath(), Quoted(staged_.Path()),
                             media::ImageFormatOf(staged_.Path()), sheet.baseAddr,
                             sheet.bounds.right, sheet.bounds.bottom, sheet.rowBytes / 4, error);
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
