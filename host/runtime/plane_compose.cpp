#include "plane_compose.h"

#include <algorithm>
#include <cstring>

namespace tavhost {

using tav::PixelArea;

namespace {

bool Aligned(int32_t v, int shift) {
    return (v & ((1 << shift) - 1)) == 0;
}

// Samples [x0, x1) of a plane row: x0 rounded down, x1 up.
int32_t Down(int32_t v, int shift) {
    return v >> shift;
}
int32_t Up(int32_t v, int shift) {
    return (v + (1 << shift) - 1) >> shift;
}

// An area's edges on a plane subsampled by `sx`, `sy`, measured from the target's corner.
bool EdgesFit(const PixelArea& a, const PixelArea& target, int sx, int sy) {
    return Aligned(a.left - target.left, sx) && Aligned(a.top - target.top, sy) &&
           (a.right == target.right || Aligned(a.right - target.left, sx)) &&
           (a.bottom == target.bottom || Aligned(a.bottom - target.top, sy));
}

bool Contains(const PixelArea& outer, const PixelArea& inner) {
    return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
           outer.bottom >= inner.bottom;
}

void FillSamples(uint8_t* at, int32_t count, int bytes, uint32_t value) {
    switch (bytes) {
        case 1:
            std::memset(at, int(value), size_t(count));
            break;
        case 2: {
            const uint16_t v = uint16_t(value);
            for (int32_t i = 0; i < count; ++i) std::memcpy(at + 2 * i, &v, 2);
            break;
        }
        default:
            for (int32_t i = 0; i < count; ++i) std::memcpy(at + 4 * i, &value, 4);
    }
}

// Writes layer `layer` over world columns [x0, x1) of plane `p`'s rows
// [py0, py1) (plane rows from the target's top).
void PaintSpan(const PlaneLayout& layout, int p, const PixelArea& target, const PlaneImage& out,
               const Layer& layer, const LayerPlanes& planes, int32_t x0, int32_t x1, int32_t py0,
               int32_t py1) {
    const int sx = layout.shiftX[p], sy = layout.shiftY[p], bytes = layout.bytes[p];
    const int32_t px0 = Down(x0 - target.left, sx), px1 = Up(x1 - target.left, sx);
    if (px1 <= px0 || py1 <= py0) return;
    uint8_t* row = out.data[p] + py0 * out.stride[p] + ptrdiff_t(px0) * bytes;
    const size_t n = size_t(px1 - px0) * size_t(bytes);
    if (layer.fill) {
        FillSamples(row, px1 - px0, bytes, planes.fill[p]);
        for (int32_t y = py0 + 1; y < py1; ++y)
            std::memcpy(row + (y - py0) * out.stride[p], row, n);
        return;
    }
    // Source plane row of target plane row py: the two corners differ by a
    // whole number of plane samples (Fits).
    const int32_t rowShift = Down(target.top - layer.dy, sy);
    const int32_t sx0 = Down(x0 - layer.dx, sx);
    const uint8_t* in =
        planes.image.data[p] + (py0 + rowShift) * planes.image.stride[p] + ptrdiff_t(sx0) * bytes;
    for (int32_t y = py0; y < py1; ++y, row += out.stride[p], in += planes.image.stride[p])
        std::memcpy(row, in, n);
}

void PaintArea(const PlaneLayout& layout, const PixelArea& target, const PlaneImage& out,
               const Layer& layer, const LayerPlanes& planes, const PixelArea& a) {
    for (int p = 0; p < layout.planes; ++p) {
        const int sy = layout.shiftY[p];
        PaintSpan(layout, p, target, out, layer, planes, a.left, a.right,
                  Down(a.top - target.top, sy), Up(a.bottom - target.top, sy));
    }
}

struct Run {
    int32_t x0, x1;
    uint8_t layer;
};

}  // namespace

bool Fits(const FrameRecording& recording, const PlaneLayout& layout, const PixelArea& target) {
    for (int p = 0; p < layout.planes; ++p) {
        const int sx = layout.shiftX[p], sy = layout.shiftY[p];
        for (const Operation& op : recording.Operations())
            if (!Contains(target, op.area) || !EdgesFit(op.area, target, sx, sy)) return false;
        for (const Layer& layer : recording.Layers())
            if (!layer.fill &&
                (!Aligned(target.left - layer.dx, sx) || !Aligned(target.top - layer.dy, sy)))
                return false;
        if (recording.Rows() > 0) {
            const PixelArea& frame = recording.Frame();
            if (!Contains(target, frame) || !EdgesFit(frame, target, sx, sy) ||
                !Aligned(recording.Step(), sx) || !Aligned(recording.Step(), sy))
                return false;
        }
    }
    return true;
}

void Compose(const FrameRecording& recording, const PlaneLayout& layout, const PixelArea& target,
             const PlaneImage& out, const std::vector<LayerPlanes>& layers) {
    const std::vector<Layer>& kinds = recording.Layers();
    const std::vector<Operation>& ops = recording.Operations();
    const PixelArea& frame = recording.Frame();
    // One operation over exactly the frame and a map above it: the map's
    // empty boxes show that operation's layer, so each pixel is written once.
    const bool base = ops.size() == 1 && ops[0].area.left == frame.left &&
                      ops[0].area.top == frame.top && ops[0].area.right == frame.right &&
                      ops[0].area.bottom == frame.bottom && recording.Rows() > 0;
    if (!base)
        for (const Operation& op : ops)
            PaintArea(layout, target, out, kinds[op.layer], layers[op.layer], op.area);
    const int32_t step = recording.Step();
    std::vector<Run> runs;
    runs.reserve(size_t(recording.Columns()));
    for (int32_t r = 0; r < recording.Rows(); ++r) {
        const uint8_t* cells = recording.BoxRow(r);
        runs.clear();
        for (int32_t c = 0; c < recording.Columns(); ++c) {
            const int v = cells[c] ? cells[c] - 1 : base ? ops[0].layer : -1;
            if (v < 0) continue;
            const int32_t x0 = frame.left + c * step;
            const int32_t x1 = std::min(x0 + step, frame.right);
            if (!runs.empty() && runs.back().layer == v && runs.back().x1 == x0)
                runs.back().x1 = x1;
            else
                runs.push_back({x0, x1, uint8_t(v)});
        }
        if (runs.empty()) continue;
        const int32_t top = frame.top + r * step;
        const int32_t bottom = std::min(top + step, frame.bottom);
        for (int p = 0; p < layout.planes; ++p) {
            const int sy = layout.shiftY[p];
            const int32_t py0 = Down(top - target.top, sy), py1 = Up(bottom - target.top, sy);
            for (const Run& run : runs)
                PaintSpan(layout, p, target, out, kinds[run.layer], layers[run.layer], run.x0,
                          run.x1, py0, py1);
        }
    }
}

}  // namespace tavhost
