// A contact sheet: frames of each transition of a sequence, evenly spread
// from its first to its last, side by side on one image with a title and
// labels: up to twelve for one transition, four a row for several.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "staged_output.h"
#include "tav/draw_host.h"

namespace tavhost {

// One transition's part of the sheet.
struct SheetSection {
    std::string label;  // above its row; the sheet's title when it is the only one
    int32_t frames = 0;
};

class ContactSheet {
  public:
    ContactSheet(const std::string& path, int frameWidth, int frameHeight, const std::string& title,
                 const std::vector<SheetSection>& sections);
    ~ContactSheet();
    ContactSheet(const ContactSheet&) = delete;
    ContactSheet& operator=(const ContactSheet&) = delete;

    // Offers frame i of transition `section`; kept if it is one of the picks.
    void Offer(size_t section, int32_t i, const PixMap& frame);
    // Writes the sheet beside its path; Commit() moves it into place.
    bool Save(std::string* error);
    bool Commit(std::string* error) { return staged_.Commit(error); }

  private:
    static void Text(int x, int y, short size, const std::string& utf8);

    StagedOutput staged_;
    bool scaleFailed_ = false;
    GWorldPtr world_ = nullptr;
    struct Part {
        int32_t frames = 0;
        int top = 0;  // y of its first row of pictures
        std::vector<int32_t> picks;
    };
    std::vector<Part> parts_;
    int cols_ = 1, thumbW_ = 0, thumbH_ = 0;
};

}  // namespace tavhost
