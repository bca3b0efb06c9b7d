#include "recorder.h"

#include "host.h"
#include "tav/pixel_area.h"

namespace tavhost {

using tav::PixelArea;

namespace {

PixMap& PixMapOf(GWorldPtr world) {
    return **GetGWorldPixMap(world);
}

}  // namespace

Recorder::~Recorder() {
    for (GWorldPtr world : scratch_) DisposeGWorld(world);
}

void Recorder::Begin(GWorldPtr output, const Rect& frameRect) {
    output_ = world_ = &PixMapOf(output);
    output_->watcher = this;
    recording_.Begin(PixelArea::Of(output_->bounds), PixelArea::Of(frameRect));
    deferred_.clear();
    Forget();
    pictureFailed_ = false;
}

void Recorder::Defer(LentFrame& frame, bool lowQuality) {
    frame.pending = true;
    frame.lowQuality = lowQuality;
    PixMapOf(frame.world).watcher = this;
    deferred_.push_back(&frame);
    Forget();
}

void Recorder::EndCall() {
    if (output_) output_->watcher = nullptr;
    output_ = nullptr;
    for (LentFrame* f : deferred_) PixMapOf(f->world).watcher = nullptr;
    deferred_.clear();
    Forget();
}

LentFrame* Recorder::Deferred(const PixMap& pm) {
    for (LentFrame* f : deferred_)
        if (f->pending && &PixMapOf(f->world) == &pm) return f;
    return nullptr;
}

void Recorder::DrawDeferred(LentFrame& f, PixMap& pm) {
    f.pending = false;
    pm.watcher = nullptr;
    if (!provider_ || provider_->DrawPicture(f.number, f.lowQuality, pm) != kPluginOK)
        pictureFailed_ = true;
}

TavPluginResult Recorder::Blit(PixMap& src, PixMap& dst, const Rect& srcRect, const Rect& dstRect) {
    // The usual box: from the last copy's source with its offset, inside
    // both worlds whole, so nothing is clipped.
    if (&src == lastSource_ && &dst == output_ && lastLayer_ >= 0 &&
        lastLayer_ < int(FrameRecording::kMaxLayers)) {
        const PixelArea to = PixelArea::Of(dstRect);
        if (srcRect.left - to.left == lastOffX_ && srcRect.top - to.top == lastOffY_ &&
            srcRect.right - to.right == lastOffX_ && srcRect.bottom - to.bottom == lastOffY_ &&
            !to.Empty() && to.left >= lastInside_.left && to.top >= lastInside_.top &&
            to.right <= lastInside_.right && to.bottom <= lastInside_.bottom) {
            recording_.PutAt(uint8_t(lastLayer_), to);
            return kPluginOK;
        }
    }
    if (&dst == output_ && &src != output_) {
        const PixelArea from = PixelArea::Of(srcRect), to = PixelArea::Of(dstRect);
        if (&src != lastSource_) {
            lastSource_ = &src;
            lastFrame_ = Deferred(src);
            lastLayer_ = -1;
        }
        if (lastFrame_ && from.Width() == to.Width() && from.Height() == to.Height()) {
            if (from.Empty()) return kPluginOK;
            // The pixels BlitPixMaps would copy: inside the destination and,
            // moved back, inside the source.
            const PixelArea sb = PixelArea::Of(src.bounds);
            const int32_t offX = from.left - to.left, offY = from.top - to.top;
            const PixelArea area =
                Clip(Clip(to, PixelArea::Of(dst.bounds)), sb.Shifted(-offX, -offY));
            if (lastLayer_ < 0 || offX != lastOffX_ || offY != lastOffY_) {
                Layer layer;
                layer.number = lastFrame_->number;
                layer.lowQuality = lastFrame_->lowQuality;
                layer.width = lastFrame_->width;
                layer.height = lastFrame_->height;
                layer.dx = sb.left - offX;
                layer.dy = sb.top - offY;
                lastLayer_ = recording_.LayerIndex(layer);
                lastOffX_ = offX;
                lastOffY_ = offY;
                lastInside_ = Clip(PixelArea::Of(dst.bounds), sb.Shifted(-offX, -offY));
            }
            if (lastLayer_ < int(FrameRecording::kMaxLayers)) {
                recording_.PutAt(uint8_t(lastLayer_), area);
                return kPluginOK;
            }
        }
    }
    // Not something the recording expresses: both worlds real, then copied.
    if (dst.watcher) MakeReal(dst);
    if (src.watcher) MakeReal(src);
    return BlitPixMaps(&src, &dst, srcRect, dstRect);
}

bool Recorder::TakeFill(PixMap& pm, const Rect& r, uint32_t pixel) {
    if (&pm == output_) {
        Layer layer;
        layer.fill = true;
        layer.pixel = pixel;
        if (recording_.Put(layer, Clip(PixelArea::Of(r), PixelArea::Of(pm.bounds)))) return true;
    }
    MakeReal(pm);
    return false;
}

void Recorder::MakeReal(PixMap& pm) {
    Forget();
    if (&pm == output_) {
        if (!ComposeWorld(pm)) pictureFailed_ = true;
        recording_.Begin(recording_.World(), recording_.Frame());
        pm.watcher = nullptr;
        output_ = nullptr;
        return;
    }
    if (LentFrame* f = Deferred(pm)) DrawDeferred(*f, pm);
    pm.watcher = nullptr;
}

Composed Recorder::Compose(ComposeTarget* target) {
    if (target && ComposeTargetPlanes(*target)) return Composed::kTarget;
    if (!world_) return Composed::kFailed;
    return ComposeWorld(*world_) ? Composed::kWorld : Composed::kFailed;
}

bool Recorder::ComposeTargetPlanes(ComposeTarget& target) {
    const FrameRecording& r = recording_;
    const PlaneLayout layout = target.Layout();
    if (!r.CoversFrame() || !Fits(r, layout, r.Frame())) return false;
    std::vector<LayerPlanes> planes(r.Layers().size());
    for (size_t i = 0; i < planes.size(); ++i) {
        const Layer& layer = r.Layers()[i];
        if (layer.fill)
            target.FillSamples(layer.pixel, planes[i].fill);
        else if (!target.Source(layer.number, layer.lowQuality, layer.width, layer.height,
                                &planes[i].image))
            return false;
    }
    tavhost::Compose(r, layout, r.Frame(), target.Image(), planes);
    return true;
}

bool Recorder::ComposeWorld(PixMap& world) {
    const FrameRecording& r = recording_;
    if (r.Empty()) return true;
    std::vector<LayerPlanes> planes(r.Layers().size());
    size_t scratch = 0;
    bool drawn = true;
    for (size_t i = 0; i < planes.size(); ++i) {
        const Layer& layer = r.Layers()[i];
        if (layer.fill) {
            planes[i].fill[0] = layer.pixel;
            continue;
        }
        // The source's picture, drawn into a world of the size it was lent at.
        if (scratch == scratch_.size()) scratch_.push_back(nullptr);
        GWorldPtr& w = scratch_[scratch++];
        Rect bounds{};
        if (w) GetPortBounds(w, &bounds);
        if (!w || bounds.right != layer.width || bounds.bottom != layer.height) {
            DisposeGWorld(w);
            w = nullptr;
            const Rect want = {0, 0, int16_t(layer.height), int16_t(layer.width)};
            if (NewGWorld(&w, 32, &want, nullptr, nullptr, 0) != noErr) return false;
        }
        PixMap& pm = PixMapOf(w);
        if (!provider_ || provider_->DrawPicture(layer.number, layer.lowQuality, pm) != kPluginOK)
            drawn = false;
        planes[i].image.data[0] = reinterpret_cast<uint8_t*>(pm.baseAddr);
        planes[i].image.stride[0] = pm.rowBytes;
    }
    PlaneImage image;
    image.data[0] = reinterpret_cast<uint8_t*>(world.baseAddr);
    image.stride[0] = world.rowBytes;
    tavhost::Compose(r, PlaneLayout::Pixels(), PixelArea::Of(world.bounds), image, planes);
    return drawn;
}

}  // namespace tavhost
