// The host runtime: serves the host services to plug-ins over real graphics
// worlds and real audio, and checks after every call that a plug-in gave
// back everything it took.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "media_format.h"
#include "recorder.h"
#include "tav/draw_host.h"
#include "tav/plugin.h"

namespace tavhost {

// The interface version this host speaks.
constexpr int16_t kHostInterfaceVersion = 4;

// Where source frames come from. The host numbers the frames of a
// transition; the provider turns a number into a picture and its sound.
class FrameProvider {
  public:
    virtual ~FrameProvider() = default;
    // Draws source frame `number` into `picture` (already sized as asked,
    // top-left at (0, 0)) and puts its sound, one frame's worth of interleaved
    // samples, in `audio`. `volume` is the clip's volume, 255 for full.
    // Returns kPluginOK or the code the plug-in should get
    // (kPluginCantGetNeededFrame). May throw; the service turns that into a code.
    // With no `picture` (recorded drawing) only the sound is wanted now, and
    // everything that can fail is checked; DrawPicture may follow.
    virtual TavPluginResult ProvideFrame(int32_t number, bool lowQuality, PixMap* picture,
                                         std::vector<float>& audio, int16_t& volume) = 0;
    // Draws the picture of a frame ProvideFrame served.
    virtual TavPluginResult DrawPicture(int32_t number, bool lowQuality, PixMap& picture) {
        std::vector<float> audio;
        int16_t volume = 0;
        return ProvideFrame(number, lowQuality, &picture, audio, volume);
    }
};

// How DoFrame's drawing reaches the output: carried out pixel by pixel as
// the plug-in draws, or recorded and composed once after the call (the
// default; TAV_DRAW=direct in the environment selects the direct way).
enum class Drawing { kDirect, kRecorded };
Drawing DrawingFromEnvironment();

// A source frame the host lends to a plug-in: the cookie points at one of these.
struct LentFrame {
    GWorldPtr world = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    int32_t number = 0;
    int16_t volume = 0;
    bool lent = false;
    bool pending = false;  // lent with its picture not drawn yet
    bool lowQuality = false;
    SInt8 handleStateAtLoan = 0;
    GWorldFlags pixelsStateAtLoan = 0;
    std::vector<float> audio;
};

class Host {
  public:
    // Sound travels per video frame as interleaved float samples in the
    // format's sound format.
    explicit Host(OutputFormat format = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The service table plug-ins call through (every entry is noexcept), and
    // this host's instance token.
    static const TavProcs kProcs;
    TavPluginInstance Instance() { return this; }
    static Host* FromInstance(TavPluginInstance instance) { return static_cast<Host*>(instance); }
    // The host whose Call is in progress on this thread: instance-less
    // services (NewPtrClear, GetLocalizedString...) are served by it.
    static Host* Current();

    const OutputFormat& Format() const { return format_; }
    void SetProvider(FrameProvider* provider) { provider_ = provider; }

    Drawing GetDrawing() const { return drawing_; }
    void SetDrawing(Drawing drawing) { drawing_ = drawing; }
    // Recorded drawing is composed into the output world as DoFrame returns,
    // unless the host composes it itself: then Compose must follow each DoFrame.
    void ComposeLater(bool later) { composeLater_ = later; }
    // Composes the last DoFrame's recorded drawing into `target` where it
    // can (null: the output world), else into the output world.
    Composed Compose(ComposeTarget* target);
    // The last DoFrame's recording (empty after direct drawing).
    const FrameRecording& Recorded() const { return recorder_.Recorded(); }
    Recorder& RecorderOf() { return recorder_; }

    TavPluginTransitionInfo& Transition() { return transition_; }
    // Clip 1: the clip whose settings the plug-in reads and writes back.
    TavPluginClipInfo& Clip() { return clip_; }
    // Sets entry `index` of string list `list` (text in the plug-ins' encoding).
    void SetString(int16_t list, int16_t index, std::string_view text);

    // The output frame: a world of the given size, reallocated when the size
    // changes (null when it cannot be made), and the sound mixed into it.
    GWorldPtr EnsureOutputWorld(int32_t width, int32_t height);
    GWorldPtr OutputWorld() const { return output_; }
    // Starts the sound of a new output frame: `floats` interleaved samples of
    // silence that MixAudio adds into.
    void ClearOutputAudio(size_t floats);
    std::vector<float>& OutputAudio() { return outputAudio_; }
    // MixAudio calls since the output sound was last cleared.
    int MixCount() const { return mixCount_; }

    // Calls a plug-in's entry point with this host current, then checks that
    // it gave back what it took; what it did not is added to Problems() and
    // taken back, so the next call starts clean.
    int32_t Call(TavPluginMainProc main, int32_t which, TavPluginParams& params);
    const std::vector<std::string>& Problems() const { return problems_; }
    void ClearProblems() { problems_.clear(); }

    int LentFrameCount() const;
    size_t LiveBlockCount() const { return blocks_.size(); }

    // --- The services, for the table and for layers that wrap them. They may
    // throw (allocation); the table's entries turn that into a result code. ---
    Ptr NewBlock(int32_t byteCount, bool clear);
    void DisposeBlock(Ptr block);
    void GetLocalizedString(unsigned char* str, int16_t list, int16_t index);
    TavPluginResult GetFrame(int32_t number, GWorldPtr* world, int32_t width, int32_t height,
                             int32_t quality, int16_t* volume, TavFrameCookie* cookie);
    TavPluginResult ReleaseFrame(TavFrameCookie cookie);
    TavPluginResult MixAudio(TavFrameCookie cookie, int32_t level);
    TavPluginResult GetMovieInfo(int32_t* width, int32_t* height, float* fps);
    TavPluginResult GetClipInfo(int32_t which, TavPluginClipInfo* info);
    TavPluginResult SetClipInfo(const TavPluginClipInfo* info);
    TavPluginResult GetTransitionInfo(TavPluginTransitionInfo** info);
    TavPluginResult ReleaseTransitionInfo(TavPluginTransitionInfo* info);
    void Problem(std::string text) { problems_.push_back(std::move(text)); }

  private:
    LentFrame* FindLent(TavFrameCookie cookie);
    // A world of width x height to lend: an idle one of that size, or an idle
    // one reallocated to it, or a new one. Its world is null when out of memory.
    LentFrame& SlotForLoan(int32_t width, int32_t height);
    // After a call: frames the plug-in kept are reported and taken back.
    void TakeBackLentFrames(uint8_t selector);

    OutputFormat format_;
    FrameProvider* provider_ = nullptr;
    Drawing drawing_ = DrawingFromEnvironment();
    bool composeLater_ = false;
    Recorder recorder_{provider_};
    TavPluginTransitionInfo transition_{};
    TavPluginClipInfo clip_{};
    std::map<std::pair<int16_t, int16_t>, std::string> strings_;
    GWorldPtr output_ = nullptr;
    std::vector<float> outputAudio_;
    // The levels source frames' sound was mixed at in this DoFrame and the
    // one before, by frame number: a frame's mix ramps on from its source's
    // previous frame. Cleared when a transition starts.
    std::map<int32_t, float> gains_, previousGains_;
    std::vector<std::unique_ptr<LentFrame>> frames_;
    std::unordered_set<Ptr> blocks_;
    int heldTransitions_ = 0;
    int mixCount_ = 0;
    std::vector<std::string> problems_;
};

// Copies `srcRect` of `src` into `dstRect` of `dst`, scaling with the nearest
// pixel when the sizes differ, clipped to both pixel maps.
TavPluginResult BlitPixMaps(const PixMap* src, PixMap* dst, const Rect& srcRect,
                            const Rect& dstRect);

// Writes `text` as a Pascal string (at most 255 characters) into `out`.
void ToPascal(std::string_view text, unsigned char* out);

// The name of a result code, such as "kPluginCantGetNeededFrame".
const char* ResultName(int32_t code);

}  // namespace tavhost
