// A contact sheet: up to twelve frames of a transition, evenly spread from
// its first to its last, side by side on one PNG with a title and labels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "staged_output.h"
#include "tav/draw_host.h"

namespace tavhost {

class ContactSheet {
  public:
    ContactSheet(const std::string& path, int frameWidth, int frameHeight, int32_t transitionFrames,
                 const std::string& title);
    ~ContactSheet();
    ContactSheet(const ContactSheet&) = delete;
    ContactSheet& operator=(const ContactSheet&) = delete;

    // Offers transition frame i; kept if it is one of the picks.
    void Offer(int32_t i, const PixMap& frame);
    // Writes the sheet beside its path; Commit() moves it into place.
    bool Save(std::string* error);
    bool Commit(std::string* error) { return staged_.Commit(error); }

  private:
    static void Text(int x, int y, short size, const std::string& utf8);

    StagedOutput staged_;
    GWorldPtr world_ = nullptr;
    int32_t count_ = 0, total_ = 0;
    int cols_ = 1, thumbW_ = 0, thumbH_ = 0;
    std::vector<int32_t> picks_;
};

}  // namespace tavhost
