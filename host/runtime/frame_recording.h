// What one DoFrame call drew into the output world, as operations on
// rectangles rather than pixels: each a copy from a source frame or a fill
// with one colour. Operations that fall on the frame's box grid are kept as
// a box map (one byte a box), the rest in the order made; the map comes
// after the list. Composing it (plane_compose.h) gives the same pixels as
// carrying the operations out one by one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tav/pixel_area.h"

namespace tavhost {

// What an operation puts down: a source frame's pixels, pixel (x, y) of
// the output taken from (x - dx, y - dy) of the source, or one colour.
struct Layer {
    bool fill = false;
    uint32_t pixel = 0;  // the fill colour, 0xAARRGGBB
    int32_t number = 0;  // the source frame
    bool lowQuality = false;
    int32_t width = 0, height = 0;  // the source world's size
    int32_t dx = 0, dy = 0;
};

struct Operation {
    tav::PixelArea area;  // in the output world's coordinates, clipped
    uint8_t layer = 0;
};

class FrameRecording {
  public:
    // The most layers one frame may use: a box holds a layer's number + 1.
    static constexpr size_t kMaxLayers = 255;

    // Starts an empty recording of a world covering `world`, whose frame
    // (and box grid origin) is `frame`.
    void Begin(const tav::PixelArea& world, const tav::PixelArea& frame);
    // Records `area` (clipped to world and source already) shown from
    // `layer`. False when the frame has used kMaxLayers layers already.
    bool Put(const Layer& layer, const tav::PixelArea& area) {
        const uint8_t index = LayerIndex(layer);
        if (index == kMaxLayers) return false;
        PutAt(index, area);
        return true;
    }
    // The index `layer` has in this recording (kMaxLayers when there is no room).
    uint8_t LayerIndex(const Layer& layer);
    // Records `area` shown from the layer at `index`: a box of the grid
    // (the usual case, kept short) or an operation.
    void PutAt(uint8_t index, const tav::PixelArea& area) {
        if (step_ > 0 && !area.Empty()) {
            const int32_t x = area.left - frame_.left, y = area.top - frame_.top;
            const int32_t c = shift_ >= 0 ? x >> shift_ : x / step_;
            const int32_t r = shift_ >= 0 ? y >> shift_ : y / step_;
            if (x >= 0 && y >= 0 && c < columns_ && r < rows_ && c * step_ == x && r * step_ == y &&
                area.right == std::min(area.left + step_, frame_.right) &&
                area.bottom == std::min(area.top + step_, frame_.bottom)) {
                cells_[size_t(r) * size_t(columns_) + size_t(c)] = uint8_t(index + 1);
                boxes_ = true;
                return;
            }
        }
        PutOther(index, area);
    }

    bool Empty() const { return operations_.empty() && !boxes_; }
    const tav::PixelArea& World() const { return world_; }
    const tav::PixelArea& Frame() const { return frame_; }
    const std::vector<Layer>& Layers() const { return layers_; }
    const std::vector<Operation>& Operations() const { return operations_; }

    // The box grid: boxes of Step() pixels from the frame's top-left corner,
    // cut at its right and bottom edges; Box(row, col) is 0 where no box was
    // drawn after the operations, else the layer's index + 1.
    int32_t Step() const { return step_; }
    int32_t Columns() const { return columns_; }
    int32_t Rows() const { return rows_; }
    const uint8_t* BoxRow(int32_t row) const { return cells_.data() + size_t(row) * columns_; }
    tav::PixelArea BoxArea(int32_t row, int32_t col) const;

    // The first operation covers the whole frame, so earlier pixels never show.
    bool CoversFrame() const;
    // Every operation lies inside the frame.
    bool InsideFrame() const;

  private:
    void PutOther(uint8_t index, const tav::PixelArea& area);
    bool StartGrid(const tav::PixelArea& area);
    // Turns the map into operations: something that is not a box follows it.
    void SpillGrid();

    tav::PixelArea world_, frame_;
    std::vector<Layer> layers_;
    std::vector<Operation> operations_;
    int32_t step_ = 0, shift_ = -1, columns_ = 0, rows_ = 0;
    bool boxes_ = false;  // a box is drawn in the map
    std::vector<uint8_t> cells_;
    uint8_t lastLayer_ = 0;
    bool haveLast_ = false;
};

}  // namespace tavhost
