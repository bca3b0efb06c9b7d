// A part's seal: a digest of everything the join takes from it (its tags,
// its streams' parameters, every packet as the demuxer reads it back),
// written into its own tags once the file is complete. The join computes
// the same digest as it reads the part and refuses one whose digest differs:
// cut short, remuxed, or damaged anywhere the join would read.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "av_util.h"

struct AVHashContext;

namespace tavhost::media {

// The tag that holds the seal.
inline constexpr const char* kSealTag = "TAV_SEAL";

// The seal's value until the file is complete: as long as a seal, and what
// SealPart looks for in the file.
std::string SealPlaceholder();

class PartDigest {
  public:
    PartDigest();
    ~PartDigest();
    PartDigest(const PartDigest&) = delete;
    PartDigest& operator=(const PartDigest&) = delete;

    // The part's tags (all but the seal) and its streams' parameters.
    void Begin(const std::vector<std::pair<std::string, std::string>>& tags,
               const AVFormatContext* ic);
    // A packet as read, in the order read.
    void Add(const AVPacket* pkt);
    // The seal: 64 hex digits.
    std::string Seal();

  private:
    void Number(int64_t n);
    void Bytes(const void* data, size_t size);
    AVHashContext* hash_ = nullptr;
};

// Reads the complete part at `path` (with `tags`, all but the seal) back and
// writes its seal over the placeholder. Messages name it `shown`.
bool SealPart(const std::string& path, const std::vector<std::pair<std::string, std::string>>& tags,
              const std::string& shown, std::string* error);

}  // namespace tavhost::media
