#include "placeholder_png.h"

#include <filesystem>

#include "image_io.h"
#include "instance.h"
#include "loaded_bundle.h"
#include "staged_output.h"
#include "tav/mac_roman.h"
#include "user_text.h"
#include "variants.h"

namespace tavhost {

bool RenderPlaceholder(const std::string& bundleName, int width, int height,
                       const std::string& caption, const std::string& output, std::string* error) {
    auto bundle = Bundle::Open(bundleName, error);
    if (!bundle) return false;
    Host host;
    if (!caption.empty())
        host.SetString(kTavPlaceholderStringList, 1, tav::Utf8ToMacRoman(caption));
    GWorldPtr world = host.EnsureOutputWorld(width, height);
    if (!world) {
        *error = "cannot make a " + std::to_string(width) + "x" + std::to_string(height) + " frame";
        return false;
    }
    TransitionInstance inst(*bundle, host, 1);
    const Rect rect = {0, 0, int16_t(height), int16_t(width)};
    if (int32_t code = inst.Placeholder(rect); code != kPluginOK) {
        *error = BundleFailure(bundle->Name(), "the placeholder", code);
        return false;
    }
    PixMap& pm = **GetGWorldPixMap(world);
    const media::ImageFormat format = media::ImageFormatOf(output);
    if (format == media::ImageFormat::kNone) {
        *error = "cannot write " + Quoted(output) + ": name the placeholder .png or .jpg";
        return false;
    }
    StagedOutput staged(output, StagedOutput::Kind::kFile);
    if (!staged.Prepare(error)) return false;
    return media::WriteImage(staged.TempPath(), Quoted(output), format, pm.baseAddr, width, height,
                             pm.rowBytes / 4, error) &&
           staged.Commit(error);
}

}  // namespace tavhost
