#pragma once
// The music player: owns at most one media graph, reached through three references to the same object.
// Every procedure traps its own failures and answers True or False.

#include <cstdint>
#include <memory>
#include <string>

#include "Boolean.h"
#include "MediaGraph.h"

namespace zorvik {

class MusicControl {
  public:
    explicit MusicControl(platform::MediaGraphFactory createGraph);
    ~MusicControl();
    MusicControl(const MusicControl&) = delete;
    MusicControl& operator=(const MusicControl&) = delete;

    // Stops the graph, then releases every reference. False (and nothing released) when Stop fails.
    VbBool CloseMusic();
    // Closes the current graph, then builds a new one for the file, stopped at the start, at normal
    // rate, full volume and centre balance. False when the old graph could not be closed or the file
    // could not be rendered; LoadErrorText() then says why.
    VbBool LoadMusic(const std::string& fileName);
    VbBool SetMusicSpeed(float rate);
    // Sets the volume to level x 40 hundredths of a decibel.
    VbBool SetMusicVolume(std::int32_t level);
    VbBool PlayMusic();
    // Stops and rewinds to the start.
    VbBool StopMusic();

    std::string LoadErrorText() const { return loadError_; }

  private:
    platform::MediaGraphFactory createGraph_;
    std::shared_ptr<platform::IMediaControl> mControl;
    std::shared_ptr<platform::IBasicAudio> mAudio;
    std::shared_ptr<platform::IMediaPosition> mPosition;
    std::string loadError_;
};

}  // namespace zorvik
