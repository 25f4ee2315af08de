#pragma once
// The media graph over the music engine: the three graph interfaces MusicControl's procedures use,
// answered by one engine and translated into its terms (decibels to a level, -10000..10000 to a balance,
// a stop to a pause, a failure's reason kept for LastErrorText).

#include <memory>
#include <string>

#include "MediaGraph.h"
#include "MusicEngine.h"

namespace zorvik {

class EngineGraph final : public graph::IMediaControl,
                          public graph::IBasicAudio,
                          public graph::IMediaPosition {
  public:
    // Empty when there is no engine.
    static std::shared_ptr<EngineGraph> Over(std::unique_ptr<platform::MusicEngine> engine);

    graph::HResult RenderFile(const std::string& fileName) override;
    graph::HResult Run() override;
    graph::HResult Stop() override;
    std::string LastErrorText() const override;

    graph::HResult put_Volume(std::int32_t hundredthsOfDecibel) override;
    graph::HResult put_Balance(std::int32_t balance) override;

    graph::HResult put_Rate(double rate) override;
    graph::HResult put_CurrentPosition(double seconds) override;

    // What the graph interfaces have no words for: the loop, and where the song is.
    platform::MusicEngine& Engine() { return *engine_; }

  private:
    explicit EngineGraph(std::unique_ptr<platform::MusicEngine> engine) : engine_(std::move(engine)) {}
    graph::HResult Answer(const platform::Status& status);

    std::unique_ptr<platform::MusicEngine> engine_;
    std::string errorText_;
};

// Graphs over the engines `makeEngine` makes, for MusicControl.
graph::MediaGraphFactory GraphsOver(platform::MusicEngineFactory makeEngine);

}  // namespace zorvik
