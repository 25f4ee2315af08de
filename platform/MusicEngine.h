#pragma once
// The music player underneath the transport: one song at a time, played at a speed that keeps its pitch,
// with a level, a balance and a loop. Driven from one thread (the GUI's); no call waits on the sound for
// longer than a load's bounded time.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Status.h"

namespace zorvik::platform {

// A passage played again and again: from `start` to `end`, in seconds of the song.
struct Loop {
    double start = 0.0;
    double end = 0.0;
};

class MusicEngine {
  public:
    // The shortest passage a loop may be: shorter, it would be a stutter rather than a passage.
    static constexpr double kShortestLoop = 0.5;
    // With a loop on, playing from a stop starts this long before the loop, so a drummer can come in.
    static constexpr double kCountIn = 2.0;

    virtual ~MusicEngine() = default;

    // Makes the song at `path` (UTF-8) ready to play, paused at its start; any song before it and its
    // loop are gone, whether or not this one loads. Waits a bounded time for a file that cannot be read.
    virtual Status Load(const std::string& path) = 0;
    // Plays from where the song is; after Stop with a loop on, from the count-in before the loop.
    virtual Status Play() = 0;
    // Holds the song where it is.
    virtual Status Pause() = 0;
    // Pauses and goes back to the loop's start with a loop on, to the song's start without one.
    virtual Status Stop() = 0;
    // Moves to `seconds` into the song; with a loop on, a point past its end is the loop's start.
    virtual Status Seek(double seconds) = 0;

    // 1.0 normal, 0.5 half speed; the pitch stays.
    virtual Status SetSpeed(double speed) = 0;
    // A factor on the song's level, 0 (silence) to 1 (as recorded).
    virtual Status SetGain(double gain) = 0;
    // -1 only the left, 0 both, 1 only the right.
    virtual Status SetBalance(double balance) = 0;

    // Where the song is heard now, and how long it is; nothing when no song is loaded (or GStreamer
    // cannot tell yet).
    virtual std::optional<double> Position() const = 0;
    virtual std::optional<double> Duration() const = 0;

    // Plays the passage between the two points over and over, from the next time the song reaches its end
    // (at once, if it is past it). The points may come in either order; a passage shorter than
    // kShortestLoop is refused.
    virtual Status SetLoop(double from, double to) = 0;
    // The song plays on past the loop's end.
    virtual void ClearLoop() = 0;
    virtual std::optional<Loop> CurrentLoop() const = 0;
};

using MusicEngineFactory = std::function<std::unique_ptr<MusicEngine>()>;

}  // namespace zorvik::platform
