#include "DrumPlayer.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "DefaultSound.h"
#include "MidiInput.h"
#include "NoteMap.h"
#include "Resampler.h"
#include "WavDecoder.h"

namespace zorvik::platform {

std::unique_ptr<SamplePlayer> MakeDrumPlayer() {
    return std::make_unique<samples::DrumPlayer>();
}

namespace samples {
namespace {

ClipPtr LoadClip(const std::string& path) {
    WavResult decoded = LoadWavFile(path);
    return decoded.Ok() ? ToMixFormat(std::move(decoded.wav)) : nullptr;
}

// The window row a kit's instrument stands in, -1 for none.
int RowOf(const kit::Kit& kit, int instrument) {
    for (std::size_t row = 0; row < kit.rows.size(); ++row) {
        if (kit.rows[row] == instrument) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

// How many data bytes follow a channel status.
std::size_t DataBytes(std::uint8_t status) {
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

}  // namespace

DrumPlayer::Stage::Stage() : eventsFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

DrumPlayer::Stage::~Stage() {
    if (eventsFd >= 0) {
        close(eventsFd);
    }
}

void DrumPlayer::Stage::TakeHits() {
    KeyHit hit;
    while (released.Room() >= VoiceMixer::kMaxTails + 1 && hits.Pop(hit)) {
        VoiceMixer::Released let{};
        mixer.Start(std::move(hit.clip), let, hit.gain);
        for (ClipPtr& old : let) {
            if (old) {
                released.Push(std::move(old));
            }
        }
    }
}

void DrumPlayer::Stage::Render(float* out, std::size_t frames) {
    // A new kit waits while the one before it still fades: only one is ever retiring.
    if (!retiring) {
        if (KitPtr next; kitsIn.Pop(next)) {
            retiring = std::move(current);
            current = std::move(next);
            kit.Use(current.get());
        }
    }
    TakeHits();
    MidiMessage message;
    while (midiIn.Pop(message)) {
        Midi(message.bytes, message.size);
    }
    mixer.Render(out, frames);
    const bool mixed = kit.Sounding();
    kit.Mix(out, frames);
    kitQuiet = mixed ? 0 : kitQuiet + std::min(frames, SIZE_MAX - kitQuiet);
    // Drums struck together add up; the sum must not wrap. With no MIDI drum sounding there is no sum.
    if (mixed) {
        for (std::size_t i = 0; i < frames * kMixChannels; ++i) {
            out[i] = std::clamp(out[i], -1.0f, 1.0f);
        }
    }
    if (retiring && !kit.Holds(retiring.get())) {
        (void)kitsOut.Push(std::move(retiring));  // a full queue keeps it here until the next block
    }
    if (toTell && eventsFd >= 0) {
        const std::uint64_t one = 1;
        (void)!write(eventsFd, &one, sizeof one);
    }
    toTell = false;
}

void DrumPlayer::Stage::Midi(const std::uint8_t* bytes, std::size_t size) {
    std::uint8_t data[2]{};
    std::size_t have = 0;
    for (std::size_t at = 0; at < size; ++at) {
        const std::uint8_t byte = bytes[at];
        if (byte >= 0xF8) {
            continue;  // real-time bytes may come anywhere, even inside a message
        }
        if (byte & 0x80) {
            // A system message ends running status, and nothing of it plays a drum.
            runningStatus = byte < 0xF0 ? byte : 0;
            have = 0;
            continue;
        }
        if (runningStatus == 0) {
            continue;
        }
        // Data bytes, under the status of this message or, running, of the one before.
        data[have++] = byte;
        if (have == DataBytes(runningStatus)) {
            Message(runningStatus, data);
            have = 0;
        }
    }
}

void DrumPlayer::Stage::Message(std::uint8_t status, const std::uint8_t* data) {
    const LoadedKit* loaded = kit.Kit();
    const std::uint8_t note = data[0] & 0x7F;
    const std::uint8_t value = DataBytes(status) == 2 ? data[1] & 0x7F : 0;
    switch (status & 0xF0) {
        case 0x90: {  // a note-on on any channel; one of velocity 0 is a note-off, which a drum ignores
            if (!loaded || value == 0) {
                return;
            }
            int instrument = loaded->kit.byNote[note];
            if (pedalSeen && loaded->hiHats.IsHiHat(instrument)) {
                if (const int hat = loaded->hiHats.ForPedal(pedal); hat >= 0) {
                    instrument = hat;
                }
            }
            if (instrument < 0) {
                return;
            }
            kit.Hit(instrument, value);
            if (const int row = RowOf(loaded->kit, instrument); row >= 0) {
                Tell({MidiEvent::Kind::kRowHit, row});
            }
            return;
        }
        case 0xA0: {  // pressure on a ringing note: the player has grabbed the cymbal
            if (!loaded || value == 0) {
                return;
            }
            const int instrument = loaded->kit.byNote[note];
            if (instrument >= 0 && kit.Ringing(instrument)) {
                kit.Choke(instrument);
            }
            return;
        }
        case 0xB0:
            if (note != 4) {
                return;  // the foot controller: the hi-hat pedal
            }
            if (loaded && value >= kit::kPedalShut && (!pedalSeen || pedal < kit::kPedalShut)) {
                kit.Choke(loaded->hiHats.open);
                kit.Choke(loaded->hiHats.halfOpen);
            }
            pedal = value;
            pedalSeen = true;
            return;
        case 0xC0:
            Tell({MidiEvent::Kind::kProgram, note});
            return;
        default:
            return;
    }
}

void DrumPlayer::Stage::Tell(MidiEvent event) {
    toTell = events.Push(std::move(event)) || toTell;
}

void DrumPlayer::Stage::Reset(KitPtr use) {
    KeyHit hit;
    while (hits.Pop(hit)) {
        hit.clip.reset();
    }
    FreeReleased();
    KitPtr queued;
    while (kitsIn.Pop(queued)) {
        queued.reset();
    }
    mixer = VoiceMixer{};
    kit = KitMixer{};
    kitQuiet = SIZE_MAX;
    retiring.reset();
    current = std::move(use);
    kit.Use(current.get());
    runningStatus = 0;
}

void DrumPlayer::Stage::FreeReleased() {
    ClipPtr clip;
    while (released.Pop(clip)) {
        clip.reset();
    }
    KitPtr old;
    while (kitsOut.Pop(old)) {
        old.reset();
    }
}

DrumPlayer::DrumPlayer(DrumPlayerOptions options)
    : retryInterval_(options.retryInterval),
      retryWait_(options.retryWait),
      open_(std::move(options.openOutput)),
      aheadInterval_(options.aheadInterval),
      aheadWait_(options.aheadInterval),
      openAhead_(std::move(options.openAhead)),
      cache_(LoadClip, options.cacheBytes),
      stage_(std::make_shared<Stage>()),
      eventsFd_(stage_->eventsFd) {
    if (!open_) {
        open_ = [](audio::RenderCallback render, audio::MidiCallback midi) {
            audio::OpenOptions open;
            open.midi = std::move(midi);
            return audio::OpenOutput(audio::OutputFormat{kMixRate, kMixChannels}, std::move(render), open);
        };
    }
    if (!openAhead_) {
        openAhead_ = [](const std::string& current, audio::RenderCallback render,
                        audio::MidiCallback midi) -> std::unique_ptr<audio::AudioOutput> {
            audio::OpenOptions open;
            open.kinds = audio::KindsAhead(current);
            if (open.kinds.empty()) {
                return nullptr;
            }
            open.midi = std::move(midi);
            return audio::OpenOutput(audio::OutputFormat{kMixRate, kMixChannels}, std::move(render), open);
        };
    }
}

DrumPlayer::~DrumPlayer() {
    midiInput_.reset();
    DropAhead();
    // An opening still under way closes its output, if it ever opens, on its own thread.
    if (opening_ && !LetGo(*opening_, output_)) {
        return;
    }
    output_.reset();
    stage_->Reset(nullptr);
}

void DrumPlayer::UseKit(KitPtr kit) {
    kit_ = std::move(kit);
    rowTurn_.fill(0);
    kitPending_ = true;
    HandKitOver();
}

// The stage of a rendering output takes the kit through its queue; one being opened gets it with its
// reset, so it only waits while an opening runs.
void DrumPlayer::HandKitOver() {
    if (!kitPending_ || opening_) {
        return;
    }
    stage_->FreeReleased();
    if (!output_) {
        stage_->Reset(kit_);
        kitPending_ = false;
        return;
    }
    KitPtr copy = kit_;
    kitPending_ = !stage_->kitsIn.Push(std::move(copy));
}

bool DrumPlayer::TakeMidiEvent(MidiEvent& event) {
    if (eventsFd_ >= 0) {
        std::uint64_t count = 0;
        (void)!read(eventsFd_, &count, sizeof count);
    }
    return stage_->events.Pop(event);
}

bool DrumPlayer::PlayRow(std::size_t row) {
    if (!kit_ || kit_->soundsKit || row >= kit::kRows || kit_->kit.rows[row] < 0) {
        return false;
    }
    const auto instrument = static_cast<std::size_t>(kit_->kit.rows[row]);
    const kit::Instrument& drum = kit_->kit.instruments[instrument];
    const auto layer = static_cast<std::size_t>(kit::LayerFor(drum, 127));
    const auto& clips = kit_->clips[instrument][layer];
    const std::size_t sample = rowTurn_[row] % clips.size();
    rowTurn_[row] = static_cast<std::uint8_t>((sample + 1) % clips.size());
    if (!EnsureOutput()) {
        return true;  // the row is the kit's, heard or not
    }
    (void)Start(clips[sample], drum.layers[layer].samples[sample].gain * drum.volume);
    return true;
}

void DrumPlayer::Prepare() {
    if (!attempted_) {
        if (!opening_) {
            StartOpening();
        }
        return;
    }
    // Called again now and then, it brings back a MIDI input lost with its server without waiting for
    // a key, as a player on an e-drum kit may strike none; it never waits for an opening. An output
    // without MIDI waits for the next key, which also spares a server that is starting up attempts.
    if (!TakeOpening(std::chrono::milliseconds::zero())) {
        return;
    }
    stage_->FreeReleased();
    HandKitOver();
    if (output_) {
        hadMidi_ = output_->HasMidiInput();
    }
    TryAhead();
    if (!hadMidi_ || (output_ && output_->Alive()) || std::chrono::steady_clock::now() < nextAttempt_) {
        return;
    }
    StartOpening();
}

bool DrumPlayer::Play(const std::string& path, std::uint32_t flags) {
    // The output comes first: without one there is no point reading the file.
    if (!EnsureOutput()) {
        return false;
    }
    ClipPtr clip = cache_.Get(path);
    if (!clip) {
        if (flags & kSndNoDefault) {
            return false;
        }
        clip = DefaultClip();
    }
    return Start(std::move(clip), 1.0f);
}

bool DrumPlayer::Start(ClipPtr clip, float gain) {
    stage_->FreeReleased();
    HandKitOver();
    // Where the output can hold its render still, the hit goes into the mixer from here and reaches
    // back over the frames queued but not yet heard.
    VoiceMixer::Released let{};
    const bool rewritten = output_->Rewrite([&](std::size_t maxBack) {
        stage_->TakeHits();
        const std::size_t back = stage_->mixer.Rewind(std::min(maxBack, stage_->kitQuiet));
        stage_->kitQuiet -= back;  // rendered again next
        stage_->mixer.Start(std::move(clip), let, gain);
        return back;
    });
    if (rewritten) {
        return true;  // `let` frees the clips the mixer let go of, now that the render runs again
    }
    // A full queue means the render thread has stopped pulling; the hit would never be heard.
    return stage_->hits.Push(Stage::KeyHit{std::move(clip), gain});
}

// Takes the result of a background opening if it finishes within `wait` (negative: however long it
// takes); false while it runs on.
bool DrumPlayer::TakeOpening(std::chrono::milliseconds wait) {
    if (!opening_) {
        return true;
    }
    {
        std::unique_lock hold(opening_->lock);
        const auto finished = [this] { return opening_->finished; };
        if (wait < std::chrono::milliseconds::zero()) {
            opening_->done.wait(hold, finished);
        } else if (!opening_->done.wait_for(hold, wait, finished)) {
            return false;
        }
        output_ = std::move(opening_->output);
    }
    opening_.reset();
    FollowMidi();
    HandKitOver();
    if (!output_ && !saidNone_) {
        saidNone_ = true;
        std::fprintf(stderr, "zorvik: no audio output opens; drum hits stay silent until one does\n");
    }
    return true;
}

// The sequencer outlives the outputs it plays into; an output's own input comes and goes with it.
void DrumPlayer::FollowMidi() {
    if (!output_ || (midiInput_ && !midiInput_->OfTheOutput() && !output_->HasMidiInput())) {
        return;
    }
    midiInput_.reset();
    midiInput_ =
        midi::OpenMidiInput(*output_, [stage = stage_.get()](const std::uint8_t* bytes, std::size_t size) {
            Stage::MidiMessage message;
            message.size = static_cast<std::uint8_t>(std::min<std::size_t>(size, sizeof message.bytes));
            std::copy_n(bytes, message.size, message.bytes);
            (void)stage->midiIn.Push(std::move(message));
        });
}

// Runs `open` on a thread of its own; what it opens is handed over through the opening returned, or
// closed there if the player has let go of the opening by then. `open` holds what its output renders
// into, and lets go of it only after the output is closed.
template <typename Open>
std::shared_ptr<DrumPlayer::Opening> DrumPlayer::Launch(Open open) {
    auto opening = std::make_shared<Opening>();
    std::thread([opening, open = std::move(open)]() mutable {
        std::unique_ptr<audio::AudioOutput> output = open();
        std::unique_lock hold(opening->lock);
        if (opening->abandoned) {
            hold.unlock();
            output.reset();
            return;
        }
        opening->output = std::move(output);
        opening->finished = true;
        opening->done.notify_all();
    }).detach();
    return opening;
}

void DrumPlayer::StartOpening() {
    attempted_ = true;
    nextAttempt_ = std::chrono::steady_clock::now() + retryInterval_;
    kitPending_ = false;
    if (output_ && !output_->Alive()) {
        lostOne_ = true;
        aheadWait_ = aheadInterval_;
        nextAhead_ = std::chrono::steady_clock::now() + aheadWait_;
    }
    DropAhead();  // the new opening tries every back end in turn anyway
    opening_ = Launch([old = std::move(output_), stage = stage_, open = open_, kit = kit_]() mutable {
        // The old output stops rendering before the stage is cleared for the new one.
        old.reset();
        stage->Reset(std::move(kit));
        Stage* const render = stage.get();
        return open([render](float* out, std::size_t frames) { render->Render(out, frames); },
                    [render](const std::uint8_t* message, std::size_t size) { render->Midi(message, size); });
    });
}

void DrumPlayer::TryAhead() {
    if (!lostOne_ || opening_ || !output_ || !output_->Alive()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (ahead_) {
        std::unique_ptr<audio::AudioOutput> better;
        {
            std::unique_lock hold(ahead_->lock);
            if (!ahead_->finished) {
                return;
            }
            better = std::move(ahead_->output);
        }
        ahead_.reset();
        if (!better) {
            constexpr std::chrono::milliseconds kLongestWait{30'000};
            aheadWait_ = std::min(aheadWait_ * 2, kLongestWait);
            nextAhead_ = now + aheadWait_;
            return;
        }
        aheadWait_ = aheadInterval_;
        nextAhead_ = now + aheadWait_;
        std::fprintf(stderr, "zorvik: drums back on %s\n", better->Name());
        // The one playing stops rendering the stage before the new one starts: the hits queued and the
        // voices sounding carry on there.
        output_.reset();
        aheadLive_->store(true, std::memory_order_release);
        output_ = std::move(better);
        hadMidi_ = output_->HasMidiInput();
        FollowMidi();
        return;
    }
    if (now < nextAhead_) {
        return;
    }
    aheadLive_ = std::make_shared<std::atomic<bool>>(false);
    ahead_ = Launch(
        [stage = stage_, live = aheadLive_, open = openAhead_, current = std::string(output_->Name())] {
            Stage* const render = stage.get();
            return open(
                current,
                [render, live](float* out, std::size_t frames) {
                    if (live->load(std::memory_order_acquire)) {
                        render->Render(out, frames);
                    } else {
                        std::fill_n(out, frames * kMixChannels, 0.0f);
                    }
                },
                [render, live](const std::uint8_t* message, std::size_t size) {
                    if (live->load(std::memory_order_acquire)) {
                        render->Midi(message, size);
                    }
                });
        });
}

bool DrumPlayer::LetGo(Opening& opening, std::unique_ptr<audio::AudioOutput>& output) {
    std::unique_lock hold(opening.lock);
    if (!opening.finished) {
        opening.abandoned = true;
        return false;
    }
    output = std::move(opening.output);
    return true;
}

void DrumPlayer::DropAhead() {
    if (!ahead_) {
        return;
    }
    std::unique_ptr<audio::AudioOutput> unused;
    (void)LetGo(*ahead_, unused);
    ahead_.reset();
}

bool DrumPlayer::EnsureOutput() {
    // The first opening, when no Prepare() started one, is waited for: the first hit plays when a
    // sound server is there.
    const bool first = !attempted_;
    if (first) {
        StartOpening();
    }
    if (!TakeOpening(first ? std::chrono::milliseconds(-1) : retryWait_)) {
        return false;
    }
    if (output_ && output_->Alive()) {
        return true;
    }
    if (std::chrono::steady_clock::now() < nextAttempt_) {
        return false;
    }
    StartOpening();
    return TakeOpening(retryWait_) && output_ && output_->Alive();
}

ClipPtr DrumPlayer::DefaultClip() {
    if (!defaultClip_) {
        defaultClip_ = std::make_shared<const StereoClip>(MakeDefaultSound());
    }
    return defaultClip_;
}

}  // namespace samples
}  // namespace zorvik::platform
