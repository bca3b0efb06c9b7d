#include "frame_recording.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tavhost {

using tav::PixelArea;

namespace {

bool SameLayer(const Layer& a, const Layer& b) {
    if (a.fill != b.fill) return false;
    if (a.fill) return a.pixel == b.pixel;
    return a.number == b.number && a.lowQuality == b.lowQuality && a.width == b.width &&
           a.height == b.height && a.dx == b.dx && a.dy == b.dy;
}

bool Contains(const PixelArea& outer, const PixelArea& inner) {
    return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
           outer.bottom >= inner.bottom;
}

// A map larger than this many boxes is not worth keeping: such boxes are
// recorded as operations.
constexpr int64_t kMaxBoxes = int64_t(1) << 22;

}  // namespace

void FrameRecording::Begin(const PixelArea& world, const PixelArea& frame) {
    world_ = world;
    frame_ = frame;
    layers_.clear();
    operations_.clear();
    step_ = 0;
    shift_ = -1;
    columns_ = rows_ = 0;
    boxes_ = false;
    cells_.clear();
    haveLast_ = false;
}

uint8_t FrameRecording::LayerIndex(const Layer& layer) {
    if (haveLast_ && SameLayer(layers_[lastLayer_], layer)) return lastLayer_;
    size_t i = 0;
    while (i < layers_.size() && !SameLayer(layers_[i], layer)) ++i;
    if (i == layers_.size()) {
        if (layers_.size() == kMaxLayers) return uint8_t(kMaxLayers);
        layers_.push_back(layer);
    }
    lastLayer_ = uint8_t(i);
    haveLast_ = true;
    return lastLayer_;
}

void FrameRecording::PutOther(uint8_t index, const PixelArea& area) {
    if (area.Empty()) return;
    if (!frame_.Empty() && Contains(area, frame_)) {
        // Everything drawn inside the frame before is covered.
        std::erase_if(operations_, [&](const Operation& op) { return Contains(area, op.area); });
        if (boxes_) std::fill(cells_.begin(), cells_.end(), uint8_t(0));
        boxes_ = false;
        operations_.push_back({area, index});
        return;
    }
    // The first box starts the grid; then it is a box or something else.
    if (step_ == 0 && StartGrid(area)) {
        PutAt(index, area);
        return;
    }
    if (boxes_) SpillGrid();
    operations_.push_back({area, index});
}

bool FrameRecording::StartGrid(const PixelArea& area) {
    if (frame_.Empty() || !Contains(world_, frame_) || !Contains(frame_, area)) return false;
    const int32_t x = area.left - frame_.left, y = area.top - frame_.top;
    const int32_t w = area.Width(), h = area.Height();
    const bool atRight = x + w == frame_.Width(), atBottom = y + h == frame_.Height();
    // A box cut at both far edges does not tell the step.
    if (atRight && atBottom) return false;
    const int32_t step = std::max(w, h);
    if ((w != step && !atRight) || (h != step && !atBottom) || x % step || y % step) return false;
    const int64_t columns = (int64_t(frame_.Width()) + step - 1) / step;
    const int64_t rows = (int64_t(frame_.Height()) + step - 1) / step;
    if (columns * rows > kMaxBoxes) return false;
    step_ = step;
    shift_ = (step & (step - 1)) == 0 ? std::countr_zero(unsigned(step)) : -1;
    columns_ = int32_t(columns);
    rows_ = int32_t(rows);
    cells_.assign(size_t(columns * rows), 0);
    return true;
}

void FrameRecording::SpillGrid() {
    for (int32_t r = 0; r < rows_; ++r)
        for (int32_t c = 0; c < columns_; ++c) {
            uint8_t& cell = cells_[size_t(r) * size_t(columns_) + size_t(c)];
            if (cell == 0) continue;
            operations_.push_back({BoxArea(r, c), uint8_t(cell - 1)});
            cell = 0;
        }
    boxes_ = false;
}

PixelArea FrameRecording::BoxArea(int32_t row, int32_t col) const {
    const int32_t left = frame_.left + col * step_, top = frame_.top + row * step_;
    return {top, left, std::min(top + step_, frame_.bottom), std::min(left + step_, frame_.right)};
}

bool FrameRecording::CoversFrame() const {
    return !frame_.Empty() && !operations_.empty() && Contains(operations_.front().area, frame_);
}

bool FrameRecording::InsideFrame() const {
    return std::all_of(operations_.begin(), operations_.end(),
                       [&](const Operation& op) { return Contains(frame_, op.area); });
}

}  // namespace tavhost
