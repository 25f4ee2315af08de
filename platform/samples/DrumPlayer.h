#pragma once
// The drum pads' sample player: WAV files decoded with libsndfile, converted once and cached, and
// mixed by a VoiceMixer into whichever AudioOutput the machine has. It knows nothing of sound servers.
//
// Threads: Play() and Prepare() run on the caller's (GUI) thread; the mixer runs on the output's
// real-time thread. A hit crosses over through a lock-free queue, and the clips the mixer lets go of
// come back through another, so the real-time thread never frees, allocates or waits.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "AudioOutput.h"
#include "ClipCache.h"
#include "KitLoader.h"
#include "KitMixer.h"
#include "SamplePlayer.h"
#include "SpscRing.h"
#include "VoiceMixer.h"

namespace zorvik::platform {
namespace midi {
class MidiInput;
}

std::unique_ptr<SamplePlayer> MakeDrumPlayer();

namespace samples {

// Opens an output rendering from the callback given, with its MIDI input (if it has one) going to the
// other; nullptr when none opens.
using OutputOpener =
    std::function<std::unique_ptr<audio::AudioOutput>(audio::RenderCallback, audio::MidiCallback)>;

struct DrumPlayerOptions {
    // When opening an output fails, the next attempt waits this long: a pad hammered with no sound
    // server must not pay for a failed connection on every hit.
    std::chrono::milliseconds retryInterval{500};
    // Openings after the first run in the background, because a failing one can block for over 100 ms.
    // The hit that starts one waits this long for it and plays if it succeeded by then; otherwise the
    // next hit finds the output open.
    std::chrono::milliseconds retryWait{40};
    // Converted audio kept for the next hits; 0 reads and decodes the file at every hit.
    std::size_t cacheBytes = std::size_t{64} << 20;
    // Empty: audio::OpenOutput, in the order of choice.
    OutputOpener openOutput{};
    // When an output was lost and another took over, the back ends ahead of the new one (PulseAudio,
    // ALSA or SDL where PipeWire comes first: the server was restarting when a hit came) are tried again
    // after this long, twice as long after each try that fails, up to 30 s, and the drums move to the
    // first that opens.
    std::chrono::milliseconds aheadInterval{3'000};
    // Opens a back end ahead of the one named, rendering from the callbacks given; nullptr when none
    // does. Empty: audio::OpenOutput over audio::KindsAhead.
    std::function<std::unique_ptr<audio::AudioOutput>(const std::string& current, audio::RenderCallback,
                                                      audio::MidiCallback)>
        openAhead{};
};

class DrumPlayer final : public SamplePlayer {
  public:
    explicit DrumPlayer(DrumPlayerOptions options = {});
    ~DrumPlayer() override;
    DrumPlayer(const DrumPlayer&) = delete;
    DrumPlayer& operator=(const DrumPlayer&) = delete;

    // Starts opening the output in the background, so the first hit finds it open; later, reopens one
    // that died, at most once a retry interval.
    void Prepare() override;
    void Preload(std::vector<std::string> paths) override { cache_.Preload(std::move(paths)); }
    // Every play is asynchronous, so kSndAsync changes nothing.
    bool Play(const std::string& path, std::uint32_t flags) override;
    KitLoad LoadKit(const std::string& path, const std::atomic<bool>& cancelled) const override {
        return LoadKitAt(path, cancelled);
    }
    void UseKit(KitPtr kit) override;
    bool PlayRow(std::size_t row) override;
    int MidiEventsFd() const override { return eventsFd_; }
    bool TakeMidiEvent(MidiEvent& event) override;

    // The output in use, null while there is none or one is being opened. For tests.
    audio::AudioOutput* Output() const { return opening_ ? nullptr : output_.get(); }

  private:
    // What the caller's thread and the render thread share. Hits go in through `hits`; the render
    // side starts them in the mixer and sends what the mixer released back through `released`.
    struct Stage {
        // A key's hit: the clip and its level.
        struct KeyHit {
            ClipPtr clip;
            float gain = 1.0f;
        };
        static constexpr std::size_t kHits = 16;
        SpscRing<KeyHit, kHits> hits;
        // Room for every hit in the queue to release a voice and all its tails, many times over.
        SpscRing<ClipPtr, 1024> released;
        VoiceMixer mixer;
        // MIDI plays `current`. A new kit comes in through `kitsIn`; the one it replaces is held in
        // `retiring` while its voices fade, then goes back through `kitsOut` to be freed off this thread.
        KitMixer kit;
        KitPtr current;
        KitPtr retiring;
        SpscRing<KitPtr, 4> kitsIn;
        SpscRing<KitPtr, 4> kitsOut;
        // MIDI from an input of no output's own (the ALSA sequencer's), taken at the start of a block.
        struct MidiMessage {
            std::uint8_t size = 0;
            std::uint8_t bytes[3]{};
        };
        SpscRing<MidiMessage, 256> midiIn;
        // Frames rendered since a kit drum last sounded: a key hit reaches back no further, or the end
        // of the drum would be rendered again as silence and the kit's voices moved on twice.
        std::size_t kitQuiet = SIZE_MAX;
        std::uint8_t runningStatus = 0;
        std::uint8_t pedal = 0;  // CC 4, 127 = shut
        bool pedalSeen = false;  // a kit without a pedal plays its hi-hat notes as they come
        // What MIDI tells the window; `eventsFd` (an eventfd) says there is some, once per block that
        // has any: a roll of notes costs one system call on the render thread, not one per note.
        SpscRing<MidiEvent, 256> events;
        int eventsFd = -1;  // the stage's own: an opening let go of at quit may still render into it
        bool toTell = false;

        Stage();
        ~Stage();
        Stage(const Stage&) = delete;
        Stage& operator=(const Stage&) = delete;

        // Render side: starts the hits handed over, while there is room to give back what they cut.
        void TakeHits();
        void Render(float* out, std::size_t frames);
        // Render side: MIDI bytes (one message, or several under running status), at the frame the next
        // Render() starts with.
        void Midi(const std::uint8_t* bytes, std::size_t size);
        void Message(std::uint8_t status, const std::uint8_t* data);
        void Tell(MidiEvent event);
        // Caller side, with no output rendering: back to silence, every clip let go of, `kit` in use.
        void Reset(KitPtr kit);
        // Caller side: frees the clips and kits the render side is done with.
        void FreeReleased();
    };

    bool Start(ClipPtr clip, float gain);
    void HandKitOver();
    bool EnsureOutput();
    // Follows the output with the MIDI input it calls for (midi::OpenMidiInput).
    void FollowMidi();
    bool TakeOpening(std::chrono::milliseconds wait);
    void StartOpening();
    // Where a fallback plays: starts trying the back ends ahead of it, or moves the drums to one that
    // opened.
    void TryAhead();
    void DropAhead();
    ClipPtr DefaultClip();

    const std::chrono::milliseconds retryInterval_;
    const std::chrono::milliseconds retryWait_;
    OutputOpener open_;
    const std::chrono::milliseconds aheadInterval_;
    std::chrono::milliseconds aheadWait_;
    decltype(DrumPlayerOptions::openAhead) openAhead_;
    std::chrono::steady_clock::time_point nextAhead_{};
    bool lostOne_ = false;  // an output died in this session: the one after it may be a fallback
    ClipCache cache_;
    std::chrono::steady_clock::time_point nextAttempt_{};
    bool attempted_ = false;
    bool hadMidi_ = false;  // the last output that opened offered a MIDI input
    bool saidNone_ = false;
    // An opening on a thread of its own, which the player may let go of: at quit, one stuck in a device
    // that does not answer is left to finish (or not) by itself, and the process ends all the same.
    struct Opening {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool abandoned = false;
        std::unique_ptr<audio::AudioOutput> output;
    };

    // The stage outlives every output that renders it, also one an abandoned opening makes.
    std::shared_ptr<Stage> stage_;
    std::unique_ptr<audio::AudioOutput> output_;
    // While there is an opening, the output and the stage belong to it.
    std::shared_ptr<Opening> opening_;
    // An opening of a back end ahead of the one playing. Its output renders silence until `aheadLive_`
    // is set, once the one it replaces has stopped rendering the stage.
    std::shared_ptr<Opening> ahead_;
    std::shared_ptr<std::atomic<bool>> aheadLive_;
    template <typename Open>
    static std::shared_ptr<Opening> Launch(Open open);
    // Takes an opening's output into `output` if it has finished (true); otherwise leaves the opening
    // to close whatever it opens by itself (false).
    static bool LetGo(Opening& opening, std::unique_ptr<audio::AudioOutput>& output);
    ClipPtr defaultClip_;
    // The kit in use, and whether the stage has yet to get it.
    KitPtr kit_;
    bool kitPending_ = false;
    // The next sample in turn for the keys, by row.
    std::array<std::uint8_t, kit::kRows> rowTurn_{};
    int eventsFd_ = -1;
    std::unique_ptr<midi::MidiInput> midiInput_;
};

}  // namespace samples
}  // namespace zorvik::platform
