#pragma once
// The media graph on GStreamer: one playbin per loaded file, with our stretch element so speed changes keep
// the pitch and the drum attacks, and a panorama element for the balance. Everything is driven from one (GUI)
// thread; the only code GStreamer's own threads run is the bus hook, which just records what went wrong.

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ErrorText.h"
#include "MediaGraph.h"

namespace zorvik::platform {

struct GstGraphOptions {
    // Makes the element the music plays into; empty for the system's default sound output. Called for
    // every pipeline the graph builds; the graph takes ownership of the returned (floating) element.
    std::function<GstElement*()> makeAudioSink;
    // The longest RenderFile keeps the caller waiting for a file to become ready to play.
    std::chrono::milliseconds loadTimeout{5000};
};

class BusRecord;

class GstMediaGraph final : public IMediaControl, public IBasicAudio, public IMediaPosition {
  public:
    // An empty pointer when GStreamer lacks the elements the graph is built from.
    static std::shared_ptr<GstMediaGraph> Create(GstGraphOptions options = {});
    ~GstMediaGraph() override;
    GstMediaGraph(const GstMediaGraph&) = delete;
    GstMediaGraph& operator=(const GstMediaGraph&) = delete;

    HResult RenderFile(const std::string& fileName) override;
    HResult Run() override;
    HResult Stop() override;
    std::string LastErrorText() const override;

    HResult put_Volume(std::int32_t hundredthsOfDecibel) override;
    HResult put_Balance(std::int32_t balance) override;

    HResult put_Rate(double rate) override;
    HResult put_CurrentPosition(double seconds) override;

  private:
    explicit GstMediaGraph(GstGraphOptions options);
    bool buildPipeline();
    void releasePipeline();
    void abandonPipeline();
    void forgetPipeline();
    void dropDefaultSink();
    void unload();
    HResult prepare();
    bool outputLost();
    HResult resume();
    HResult fail(HResult status, std::string text);
    HResult succeed();
    HResult requireStream();
    HResult seekTo(double seconds);

    GstGraphOptions options_;
    GstElement* pipeline_ = nullptr;
    GstElement* level_ = nullptr;
    GstElement* panorama_ = nullptr;
    GstElement* stretch_ = nullptr;
    GstElement* defaultSink_ = nullptr;  // the autoaudiosink, when the graph plays to the default output
    std::shared_ptr<BusRecord> bus_;
    bool loaded_ = false;
    std::string uri_;                 // the file loaded, kept so a lost output can be rebuilt
    std::optional<double> resumeAt_;  // while the output is lost: where the next Run carries on
    // While paused: where playing will start. The sink then holds the audio from there, made at the
    // speed of the time, so a new speed makes it again (put_Rate).
    std::optional<double> pausedAt_;
    double linearVolume_ = 1.0;
    float panoramaValue_ = 0.0f;
    double rate_ = 1.0;
    std::string errorText_;
};

MediaGraphFactory MakeGstMediaGraphFactory(GstGraphOptions options = {});

}  // namespace zorvik::platform
