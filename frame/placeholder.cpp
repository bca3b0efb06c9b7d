// The progress placeholder: a dark grey field with a large white caption and
// a black shadow 2 pixels down and right.
#include "bundle.h"
#include "tav/quickdraw.h"

namespace tav {

TavPluginResult DrawPlaceholder(TavPluginParams* params) {
    if (!params->frame) return kPluginBadParams;
    const Rect& frameRect = params->frameRect;
    const auto frameWidth = int16_t(frameRect.right - frameRect.left);
    const auto frameHeight = int16_t(frameRect.bottom - frameRect.top);

    SetGWorld(params->frame, nullptr);
    PixMapHandle pixMapHandle = GetGWorldPixMap(params->frame);
    const GWorldFlags pixFlags = GetPixelsState(pixMapHandle);
    LockPixels(pixMapHandle);

    // Zero-filled: a caption with fewer characters than its length byte
    // claims reads zeros; a length byte can never reach past the 256 bytes.
    Str255 textStr = {};
    params->procs->GetLocalizedString(textStr, kTavPlaceholderStringList, 1);
    if (textStr[0] == 0) {
        static const Str32 inP = {14,  'I', 'n', ' ', 'P', 'r', 'o', 'g',
                                  'r', 'e', 's', 's', '.', '.', '.'};
        params->procs->pstrcpy(textStr, inP);
    }

    TextSize(64);
    const int16_t textWidth = StringWidth(textStr);
    const auto locX = int16_t((int32_t(frameWidth) - int32_t(textWidth)) / 2);
    const auto locY = int16_t(frameHeight / 3);

    RGBBackColor(&rgbDkGray);
    EraseRect(&params->frameRect);
    RGBBackColor(&rgbWhite);

    if (textStr[0] != 0) {
        MoveTo(locX, locY);
        ForeColor(blackColor);
        DrawString(textStr);
        MoveTo(int16_t(locX - 2), int16_t(locY - 2));
        ForeColor(whiteColor);
        DrawString(textStr);
    }

    SetPixelsState(pixMapHandle, pixFlags);
    return kPluginOK;
}

}  // namespace tav
