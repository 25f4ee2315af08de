#pragma once
// The music player: owns at most one media graph, reached through three references to the same object.
// Every procedure traps its own failures and answers True or False.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Boolean.h"
#include "MediaGraph.h"
#include "MusicEngine.h"

namespace zorvik {

class MusicControl {
  public:
    // Runs a piece of work and returns once it is done, maybe having run it on another thread.
    using Runner = std::function<void(const std::function<void()>& work)>;
    // `runLoad` runs each load's work (by default, on the calling thread); the program's runs it on a
    // thread of its own while the window keeps answering, since a song on a slow drive takes seconds.
    explicit MusicControl(graph::MediaGraphFactory createGraph, Runner runLoad = {});
    ~MusicControl();
    MusicControl(const MusicControl&) = delete;
    MusicControl& operator=(const MusicControl&) = delete;

    // Stops the graph, then releases every reference. False (and nothing released) when Stop fails.
    VbBool CloseMusic();
    // Closes the current graph, then builds a new one for the file, stopped at the start, at normal
    // rate, full volume and centre balance. False when the old graph could not be closed or the file
    // could not be rendered; LoadErrorText() then says why.
    VbBool LoadMusic(const std::string& fileName);
    // True while LoadMusic runs. Every other procedure then answers False (or nothing) and leaves the
    // graph alone, and LoadMusic refuses a second song.
    bool Loading() const { return loading_; }
    VbBool SetMusicSpeed(float rate);
    // Sets the volume to level x 40 hundredths of a decibel.
    VbBool SetMusicVolume(std::int32_t level);
    VbBool PlayMusic();
    // Stops and rewinds to the start; with a loop on, to the loop's start, and the next play counts in.
    VbBool StopMusic();

    std::string LoadErrorText() const { return loading_ ? std::string() : loadError_; }

    // For the desktop's media controls, beside the transport's own buttons: holding the song where it is,
    // whether it plays, where it is and how long, and moving it.
    enum class Playback { kStopped, kPlaying, kPaused };
    VbBool PauseMusic();
    Playback State() const { return loading_ ? Playback::kStopped : state_; }
    std::optional<double> MusicPosition() const;
    std::optional<double> MusicLength() const;
    VbBool SeekMusic(double seconds);

    // The practice loop. The song's position now becomes the loop's start (kept until an end is marked;
    // with a loop on, the loop's start moves there), or its end (the loop is on from then, from the start
    // marked or the song's start). False when no song plays or the passage would be too short.
    VbBool MarkLoopStart();
    VbBool MarkLoopEnd();
    void ClearLoop();
    std::optional<platform::Loop> MusicLoop() const;
    // A start marked for a loop that is not on yet.
    std::optional<double> LoopStartMark() const { return loading_ ? std::nullopt : loopStartMark_; }

  private:
    VbBool Load(const std::string& fileName);
    VbBool Close();
    // The engine under the graph, for what the graph has no words for; none for other graphs.
    platform::MusicEngine* Engine() const;

    graph::MediaGraphFactory createGraph_;
    Runner runLoad_;
    bool loading_ = false;
    std::shared_ptr<graph::IMediaControl> mControl;
    std::shared_ptr<graph::IBasicAudio> mAudio;
    std::shared_ptr<graph::IMediaPosition> mPosition;
    std::string loadError_;
    std::optional<double> loopStartMark_;
    Playback state_ = Playback::kStopped;
};

}  // namespace zorvik
