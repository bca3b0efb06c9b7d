// Text in the current port: an outline font rendered anti-aliased through
// FreeType, Pascal strings in Mac Roman, the pen on the baseline.
#include <cstdlib>
#include <mutex>
#include <string>

#include "port.h"
#include "tav/mac_roman.h"

#if defined(TAV_HAVE_FREETYPE)
#include <ft2build.h>
#include FT_FREETYPE_H
#if defined(TAV_HAVE_FONTCONFIG)
#include <fontconfig/fontconfig.h>
#endif
#endif

namespace {

constexpr short kDefaultTextSize = 12;

short EffectiveSize(const CGrafPort* port) {
    return port->textSize > 0 ? port->textSize : kDefaultTextSize;
}

#if defined(TAV_HAVE_FREETYPE)

constexpr const char* kDebianDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string FindFontFile() {
    if (const char* env = std::getenv("TAV_FONT"); env && *env) return env;
#if defined(TAV_HAVE_FONTCONFIG)
    std::string found;
    if (FcConfig* config = FcInitLoadConfigAndFonts()) {
        FcPattern* pattern =
            FcNameParse(reinterpret_cast<const FcChar8*>("DejaVu Sans:style=Book"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        if (FcPattern* match = FcFontMatch(config, pattern, &result)) {
            FcChar8* file = nullptr;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
                found = reinterpret_cast<const char*>(file);
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
        FcConfigDestroy(config);
    }
    if (!found.empty()) return found;
#endif
    return kDebianDejaVu;
}

// One face for the process, loaded on first use; FreeType faces are not
// thread-safe, so every use holds the mutex.
struct Font {
    std::mutex mutex;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    std::string path;
    short pixelSize = 0;

    Font() {
        if (FT_Init_FreeType(&library) != 0) {
            library = nullptr;
            return;
        }
        const std::string file = FindFontFile();
        if (FT_New_Face(library, file.c_str(), 0, &face) != 0) {
            face = nullptr;
            return;
        }
        path = file;
    }
    ~Font() {
        if (face) FT_Done_Face(face);
        if (library) FT_Done_FreeType(library);
    }

    bool SetSize(short size) {
        if (!face) return false;
        if (size != pixelSize) {
            if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(size)) != 0) return false;
            pixelSize = size;
        }
        return true;
    }

    // Whole-pixel advance of one character; the same figure for measuring and drawing.
    int Advance(unsigned char c) {
        if (FT_Load_Char(face, tav::MacRomanToUnicode(c), FT_LOAD_DEFAULT) != 0) return 0;
        return int((face->glyph->advance.x + 32) >> 6);
    }
};

Font& TheFont() {
    static Font font;
    return font;
}

#endif

}  // namespace

extern "C" {

const char* TavFontPath(void) {
#if defined(TAV_HAVE_FREETYPE)
    return TheFont().path.c_str();
#else
    return "";
#endif
}

short StringWidth(const unsigned char* s) {
    CGrafPort* port = tavdraw::CurrentPort();
    if (!port || !s) return 0;
#if defined(TAV_HAVE_FREETYPE)
    Font& font = TheFont();
    std::lock_guard lock(font.mutex);
    if (!font.SetSize(EffectiveSize(port))) return 0;
    int width = 0;
    for (int i = 1; i <= s[0]; ++i) width += font.Advance(s[i]);
    return short(width > 32767 ? 32767 : width);
#else
    (void)EffectiveSize;
    return 0;
#endif
}

void DrawString(const unsigned char* s) {
    CGrafPort* port = tavdraw::CurrentPort();
    if (!port || !s) return;
#if defined(TAV_HAVE_FREETYPE)
    Font& font = TheFont();
    std::lock_guard lock(font.mutex);
    if (!font.SetSize(EffectiveSize(port))) return;
    if (tavdraw::WorldWatcher* watcher = port->pixMap.watcher) watcher->MakeReal(port->pixMap);
    const uint32_t pixel = TavPixelFromRGB(port->foreColor);
    int penX = port->pen.h;
    const int baseline = port->pen.v;
    for (int i = 1; i <= s[0]; ++i) {
        if (FT_Load_Char(font.face, tav::MacRomanToUnicode(s[i]), FT_LOAD_RENDER) != 0) continue;
        const FT_GlyphSlot g = font.face->glyph;
        const FT_Bitmap& bm = g->bitmap;
        const int x0 = penX + g->bitmap_left;
        const int y0 = baseline - g->bitmap_top;
        for (unsigned row = 0; row < bm.rows; ++row) {
            const unsigned char* src = bm.buffer + static_cast<ptrdiff_t>(row) * bm.pitch;
            for (unsigned col = 0; col < bm.width; ++col) {
                if (src[col])
                    tavdraw::BlendPortPixel(port, x0 + int(col), y0 + int(row), pixel, src[col]);
            }
        }
        penX += int((g->advance.x + 32) >> 6);
    }
    port->pen.h = short(penX);
#endif
}

}  // extern "C"
