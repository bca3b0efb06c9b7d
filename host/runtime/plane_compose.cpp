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

// Copies one box's samples of a row. Through a register, so a box copied
// onto itself (the output's own row standing for "left as it is") is fine.
template <size_t N>
inline void CopyBox(uint8_t* out, const uint8_t* in) {
    struct Chunk {
        uint8_t b[N];
    } chunk;
    std::memcpy(&chunk, in, N);
    std::memcpy(out, &chunk, N);
}

// Row `count` boxes of `N` bytes each: box c comes from rows[cells[c]] at the
// same offset. Branch-free: the map picks the row, not the path.
template <size_t N>
void BoxRow(uint8_t* out, const uint8_t* const* rows, const uint8_t* cells, int32_t count) {
    for (int32_t c = 0; c < count; ++c) {
        const size_t at = size_t(c) * N;
        CopyBox<N>(out + at, rows[cells[c]] + at);
    }
}

void BoxRowAny(uint8_t* out, const uint8_t* const* rows, const uint8_t* cells, int32_t count,
               size_t n) {
    for (int32_t c = 0; c < count; ++c) {
        const size_t at = size_t(c) * n;
        std::memmove(out + at, rows[cells[c]] + at, n);
    }
}

void BoxRowOf(size_t n, uint8_t* out, const uint8_t* const* rows, const uint8_t* cells,
              int32_t count) {
    switch (n) {
        case 1:
            return BoxRow<1>(out, rows, cells, count);
        case 2:
            return BoxRow<2>(out, rows, cells, count);
        case 4:
            return BoxRow<4>(out, rows, cells, count);
        case 8:
            return BoxRow<8>(out, rows, cells, count);
        case 16:
            return BoxRow<16>(out, rows, cells, count);
        case 32:
            return BoxRow<32>(out, rows, cells, count);
        case 64:
            return BoxRow<64>(out, rows, cells, count);
        default:
            return BoxRowAny(out, rows, cells, count, n);
    }
}

// Boxes of at least this many bytes a row are copied only where they differ
// from the base: reading a second picture whole costs more than the branches.
constexpr size_t kWideBox = 32;

// Where a layer's samples of plane `p` start at the frame's left edge on
// plane row `py`, and how far apart its rows are (0 for a fill's one row).
struct LayerRows {
    const uint8_t* first = nullptr;
    ptrdiff_t stride = 0;
    const uint8_t* Row(int32_t py) const { return first + py * stride; }
};

LayerRows RowsOf(const Layer& l, const LayerPlanes& planes, const std::vector<uint8_t>& fill,
                 const PlaneLayout& layout, int p, const PixelArea& target,
                 const PixelArea& frame) {
    if (l.fill) return {fill.data(), 0};
    const int sx = layout.shiftX[p], sy = layout.shiftY[p];
    // Plane row py of the target is the layer's plane row py + shift (Fits).
    const ptrdiff_t stride = planes.image.stride[p];
    return {planes.image.data[p] + Down(target.top - l.dy, sy) * stride +
                ptrdiff_t(Down(frame.left - l.dx, sx)) * layout.bytes[p],
            stride};
}

// Rows [ry0, ry1) of one box, `n` bytes each: whole boxes of the usual sizes
// as a few wide loads and stores.
template <size_t N>
void CopyRowsOf(uint8_t* o, ptrdiff_t stride, const LayerRows& l, size_t at, int32_t ry0,
                int32_t ry1) {
    for (int32_t py = ry0; py < ry1; ++py, o += stride) CopyBox<N>(o, l.Row(py) + at);
}

void CopyBoxRows(uint8_t* o, ptrdiff_t stride, const LayerRows& l, size_t at, int32_t ry0,
                 int32_t ry1, size_t n) {
    switch (n) {
        case 32:
            return CopyRowsOf<32>(o, stride, l, at, ry0, ry1);
        case 64:
            return CopyRowsOf<64>(o, stride, l, at, ry0, ry1);
        case 128:
            return CopyRowsOf<128>(o, stride, l, at, ry0, ry1);
        default:
            for (int32_t py = ry0; py < ry1; ++py, o += stride) std::memcpy(o, l.Row(py) + at, n);
    }
}

// Wide boxes over a base layer: the base first, then each box that shows
// another layer, all its rows, as drawing box by box does: only the pixels
// shown are read.
void WideBoxes(const FrameRecording& recording, const PlaneLayout& layout, int p,
               const PixelArea& target, const PlaneImage& out,
               const std::vector<LayerPlanes>& layers,
               const std::vector<std::vector<uint8_t>>& fills, int base) {
    const std::vector<Layer>& kinds = recording.Layers();
    const PixelArea& frame = recording.Frame();
    const int sx = layout.shiftX[p], sy = layout.shiftY[p], bytes = layout.bytes[p];
    const int32_t step = recording.Step();
    const int32_t px0 = Down(frame.left - target.left, sx);
    const size_t rowBytes = size_t(Up(frame.right - target.left, sx) - px0) * size_t(bytes);
    const int32_t py0 = Down(frame.top - target.top, sy);
    const int32_t py1 = Up(frame.bottom - target.top, sy);
    std::vector<LayerRows> rows(kinds.size());
    for (size_t k = 0; k < kinds.size(); ++k)
        rows[k] = RowsOf(kinds[k], layers[k], fills[k], layout, p, target, frame);
    const ptrdiff_t stride = out.stride[p];
    uint8_t* first = out.data[p] + py0 * stride + ptrdiff_t(px0) * bytes;
    // Row by row: one large copy would bypass the cache (non-temporal
    // stores), and the boxes written next would then miss it.
    const LayerRows& b = rows[size_t(base)];
    for (int32_t py = py0; py < py1; ++py)
        std::memcpy(first + (py - py0) * stride, b.Row(py), rowBytes);
    for (int32_t r = 0; r < recording.Rows(); ++r) {
        const uint8_t* cells = recording.BoxRow(r);
        const int32_t top = frame.top + r * step;
        const int32_t ry0 = Down(top - target.top, sy);
        const int32_t ry1 = Up(std::min(top + step, frame.bottom) - target.top, sy);
        for (int32_t c = 0; c < recording.Columns(); ++c) {
            if (cells[c] == 0 || cells[c] == base + 1) continue;
            const LayerRows& l = rows[size_t(cells[c] - 1)];
            const size_t at = size_t(Down(c * step, sx)) * size_t(bytes);
            const size_t n =
                std::min(size_t(Up((c + 1) * step, sx)) * size_t(bytes), rowBytes) - at;
            uint8_t* o = first + (ry0 - py0) * stride + at;
            CopyBoxRows(o, stride, l, at, ry0, ry1, n);
        }
    }
}

// The box map over its plane rows: each sample row is made box by box from
// the row of the layer the box shows (empty boxes: the base layer's row, or
// the output's own). Fill colours are rows of their own, made once.
void ComposeBoxes(const FrameRecording& recording, const PlaneLayout& layout,
                  const PixelArea& target, const PlaneImage& out,
                  const std::vector<LayerPlanes>& layers, int base) {
    const std::vector<Layer>& kinds = recording.Layers();
    const PixelArea& frame = recording.Frame();
    const int32_t step = recording.Step(), columns = recording.Columns();
    // Whole boxes in a row, and the last one cut at the frame's right edge.
    const int32_t whole = frame.Width() / step;
    std::vector<const uint8_t*> rows(kinds.size() + 1);
    std::vector<std::vector<uint8_t>> fills(kinds.size());
    for (int p = 0; p < layout.planes; ++p) {
        const int sx = layout.shiftX[p], sy = layout.shiftY[p], bytes = layout.bytes[p];
        const int32_t px0 = Down(frame.left - target.left, sx);
        const int32_t pw = Up(frame.right - target.left, sx) - px0;
        const size_t boxBytes = size_t(step >> sx) * size_t(bytes);
        for (size_t k = 0; k < kinds.size(); ++k)
            if (kinds[k].fill) {
                fills[k].resize(size_t(pw) * size_t(bytes));
                FillSamples(fills[k].data(), pw, bytes, layers[k].fill[p]);
            }
        const int32_t py0 = Down(frame.top - target.top, sy);
        const int32_t py1 = Up(frame.bottom - target.top, sy);
        if (base >= 0 && boxBytes >= kWideBox) {
            WideBoxes(recording, layout, p, target, out, layers, fills, base);
            continue;
        }
        for (int32_t py = py0; py < py1; ++py) {
            uint8_t* row = out.data[p] + py * out.stride[p] + ptrdiff_t(px0) * bytes;
            // Row pointers, each at the frame's left edge: index 0 for empty boxes.
            const int32_t y = target.top + (py << sy);
            for (size_t k = 0; k < kinds.size(); ++k) {
                const Layer& l = kinds[k];
                rows[k + 1] = l.fill ? fills[k].data()
                                     : layers[k].image.data[p] +
                                           Down(y - l.dy, sy) * layers[k].image.stride[p] +
                                           ptrdiff_t(Down(frame.left - l.dx, sx)) * bytes;
            }
            const uint8_t* cells = recording.BoxRow(((py << sy) + target.top - frame.top) / step);
            rows[0] = base >= 0 ? rows[size_t(base) + 1] : row;
            BoxRowOf(boxBytes, row, rows.data(), cells, whole);
            if (whole < columns) {
                const size_t at = size_t(whole) * boxBytes;
                std::memmove(row + at, rows[cells[whole]] + at, size_t(pw) * bytes - at);
            }
        }
    }
}

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
    if (recording.Rows() > 0)
        ComposeBoxes(recording, layout, target, out, layers, base ? ops[0].layer : -1);
}

}  // namespace tavhost
