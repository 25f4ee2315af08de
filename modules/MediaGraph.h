#pragma once
// The media graph the music player's procedures are written against: one object per loaded file that
// answers three interfaces, like a filter graph manager. Every operation returns a status, negative on
// failure. Units are the graph's: volume in hundredths of a decibel (0 full, -10000 silence), balance
// -10000..10000 (0 centre), rate as a factor (1.0 normal), position in seconds. Only MusicControl speaks
// this; EngineGraph answers it over the music engine.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zorvik::graph {

using HResult = std::int32_t;
inline constexpr HResult kOk = 0;
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);        // E_FAIL
inline constexpr HResult kInvalidArg = static_cast<HResult>(0x80070057u);  // E_INVALIDARG

inline constexpr bool Failed(HResult hr) {
    return hr < 0;
}

class IMediaControl {
  public:
    virtual ~IMediaControl() = default;
    // Builds everything needed to play the file (a UTF-8 path) to the default audio output. Waits a
    // bounded time; never hangs on a file that cannot be read.
    virtual HResult RenderFile(const std::string& fileName) = 0;
    virtual HResult Run() = 0;
    virtual HResult Stop() = 0;
    // Why the last failing operation failed, in words a user can read; empty when nothing failed.
    virtual std::string LastErrorText() const = 0;
};

class IBasicAudio {
  public:
    virtual ~IBasicAudio() = default;
    virtual HResult put_Volume(std::int32_t hundredthsOfDecibel) = 0;
    virtual HResult put_Balance(std::int32_t balance) = 0;
};

class IMediaPosition {
  public:
    virtual ~IMediaPosition() = default;
    virtual HResult put_Rate(double rate) = 0;
    virtual HResult put_CurrentPosition(double seconds) = 0;
};

// Asking one graph object for another of its interfaces. The returned reference shares ownership
// with the one asked, so the graph lives until its last reference is cleared.
template <class Wanted, class Held>
std::shared_ptr<Wanted> QueryInterface(const std::shared_ptr<Held>& object) {
    return std::dynamic_pointer_cast<Wanted>(object);
}

// Creates a new, stopped, empty graph; an empty pointer when none can be created.
using MediaGraphFactory = std::function<std::shared_ptr<IMediaControl>()>;

}  // namespace zorvik::graph
