#include "box_pattern.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "bundle_random.h"

namespace tavhost {

namespace {

constexpr int32_t kStart = 1;

}  // namespace

TavPluginResult BoxPattern::NoPictures::ProvideFrame(int32_t, bool, PixMap* picture,
                                                     std::vector<float>& audio, int16_t& volume) {
    audio.clear();
    volume = 255;
    if (picture) asked = true;
    return kPluginOK;
}

BoxPattern::BoxPattern(const Bundle& bundle, int16_t variant, int32_t width, int32_t height)
    : width_(width), height_(height) {
    host_.SetProvider(&pictures_);
    host_.SetDrawing(Drawing::kRecorded);
    host_.ComposeLater(true);
    if (width <= 0 || height <= 0 || !host_.EnsureOutputWorld(width, height)) return;
    instance_ = std::make_unique<TransitionInstance>(bundle, host_, variant);
    TransitionTiming timing;
    if (instance_->Describe(0.5f, &timing) != kPluginOK || instance_->Initialize() != kPluginOK)
        return;
    instance_->SetLength(kSteps);
    ready_ = true;
    // One frame drawn now, so the worlds the host lends exist before the
    // first frame that is asked for.
    BoxMap warmUp;
    Draw(0.5, 0, &warmUp);
}

BoxPattern::~BoxPattern() {
    instance_.reset();  // Terminate while the host is still here
}

bool BoxPattern::Draw(double progress, uint32_t seed, BoxMap* map) {
    if (!ready_) return false;
    map->width = width_;
    map->height = height_;
    const double p = std::clamp(std::isfinite(progress) ? progress : 0.0, 0.0, 1.0);
    const int32_t renderFrame = int32_t(std::lround(p * kSteps)) - 1;
    if (renderFrame < 0) {
        // Not begun: the first picture whole, as one box.
        map->step = std::max(width_, height_);
        map->columns = map->rows = 1;
        map->cells.assign(1, BoxMap::kFirst);
        return true;
    }
    pictures_.asked = false;
    // The pattern is seeded by the seed and the frame alone.
    SeedBundleRandom(seed * 2654435761u ^ uint32_t(renderFrame) * 40503u);
    const Rect frame = {0, 0, int16_t(height_), int16_t(width_)};
    if (instance_->DoFrame(kStart, renderFrame, kSteps, frame, true) != kPluginOK ||
        pictures_.asked)
        return false;
    host_.ClearProblems();
    const FrameRecording& r = host_.Recorded();
    // One layer over the whole frame, boxes above it.
    if (r.Operations().size() != 1 || !r.CoversFrame()) return false;
    auto kind = [&](uint8_t layer) -> uint8_t {
        const Layer& l = r.Layers()[layer];
        if (l.fill) return BoxMap::kColour;
        return l.number >= kStart + kSteps ? BoxMap::kSecond : BoxMap::kFirst;
    };
    for (const Layer& l : r.Layers())
        if (l.fill) map->colour = l.pixel;
    const uint8_t base = kind(r.Operations()[0].layer);
    if (r.Rows() == 0) {
        map->step = std::max(width_, height_);
        map->columns = map->rows = 1;
        map->cells.assign(1, base);
        return true;
    }
    map->step = r.Step();
    map->columns = r.Columns();
    map->rows = r.Rows();
    map->cells.resize(size_t(map->columns) * size_t(map->rows));
    uint8_t kinds[FrameRecording::kMaxLayers + 1];
    kinds[0] = base;
    for (size_t k = 0; k < r.Layers().size(); ++k) kinds[k + 1] = kind(uint8_t(k));
    for (int32_t row = 0; row < map->rows; ++row) {
        const uint8_t* cells = r.BoxRow(row);
        uint8_t* out = map->cells.data() + size_t(row) * size_t(map->columns);
        for (int32_t c = 0; c < map->columns; ++c) out[c] = kinds[cells[c]];
    }
    return true;
}

}  // namespace tavhost
