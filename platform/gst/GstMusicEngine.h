#pragma once
// The music engine on GStreamer: one playbin per loaded file, with our stretch element so speed changes keep
// the pitch and the drum attacks, and a panorama element for the balance. Everything is driven from one (GUI)
// thread; the code GStreamer's own threads run is the bus hook, which records what went wrong and sends a
// loop round again.

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "FileCheck.h"
#include "MusicEngine.h"

namespace zorvik::platform::gst {

struct GstEngineOptions {
    // Makes the element the music plays into; empty for the system's default sound output. Called for
    // every pipeline the engine builds; the engine takes ownership of the returned (floating) element.
    std::function<GstElement*()> makeAudioSink;
    // The longest Load keeps the caller waiting for a file to become ready to play.
    std::chrono::milliseconds loadTimeout{5000};
    // The longest a new song, an unload or quitting waits for the song before to stop.
    std::chrono::milliseconds haltTimeout{500};
};

class BusRecord;
struct LoopPoints;

class GstMusicEngine final : public MusicEngine {
  public:
    // Empty when GStreamer lacks the elements the engine is built from.
    static std::unique_ptr<GstMusicEngine> Create(GstEngineOptions options = {});
    ~GstMusicEngine() override;
    GstMusicEngine(const GstMusicEngine&) = delete;
    GstMusicEngine& operator=(const GstMusicEngine&) = delete;

    Status Load(const std::string& path) override;
    Status Play() override;
    Status Pause() override;
    Status Stop() override;
    Status Seek(double seconds) override;
    Status SetSpeed(double speed) override;
    Status SetGain(double gain) override;
    Status SetBalance(double balance) override;
    std::optional<double> Position() const override;
    std::optional<double> Duration() const override;
    Status SetLoop(double from, double to) override;
    void ClearLoop() override;
    std::optional<Loop> CurrentLoop() const override;

  private:
    explicit GstMusicEngine(GstEngineOptions options);
    bool BuildPipeline();
    void ReleasePipeline();
    void AbandonPipeline();
    void Halt();
    void ForgetPipeline();
    void DropDefaultSink();
    void Unload();
    Status Prepare();
    bool OutputLost();
    Status Resume();
    Status RequireStream();
    Status SeekTo(double seconds);
    void ShareLoop();

    GstEngineOptions options_;
    GstElement* pipeline_ = nullptr;
    GstElement* level_ = nullptr;
    GstElement* panorama_ = nullptr;
    GstElement* stretch_ = nullptr;
    GstElement* defaultSink_ = nullptr;  // the autoaudiosink, when the engine plays to the default output
    std::shared_ptr<BusRecord> bus_;
    // The loop as the bus hook sees it, to send the song round again from GStreamer's threads.
    std::shared_ptr<LoopPoints> loopPoints_;
    bool loaded_ = false;
    MusicFile file_;                  // the file loaded, open while it is
    std::string uri_;                 // the file through file_, kept so a lost output can be rebuilt
    std::optional<double> resumeAt_;  // while the output is lost: where the next Play carries on
    // While paused: where playing will start. The sink then holds the audio from there, made at the
    // speed of the time, so a new speed makes it again (SetSpeed).
    std::optional<double> pausedAt_;
    std::optional<Loop> loop_;
    bool countIn_ = false;  // stopped with a loop on: the next Play starts before the loop
    double gain_ = 1.0;
    float panoramaValue_ = 0.0f;
    double speed_ = 1.0;
};

}  // namespace zorvik::platform::gst
