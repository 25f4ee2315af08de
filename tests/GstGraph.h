#pragma once
// The media graph as the program builds it: the GStreamer music engine under the graph interfaces.

#include <memory>

#include "EngineGraph.h"
#include "GstMusicEngine.h"

namespace zorvik {

inline std::shared_ptr<EngineGraph> MakeGstGraph(platform::gst::GstEngineOptions options = {}) {
    return EngineGraph::Over(platform::gst::GstMusicEngine::Create(std::move(options)));
}

inline graph::MediaGraphFactory GstGraphs(platform::gst::GstEngineOptions options = {}) {
    return [options = std::move(options)]() -> std::shared_ptr<graph::IMediaControl> {
        return MakeGstGraph(options);
    };
}

}  // namespace zorvik
