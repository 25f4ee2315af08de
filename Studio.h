#pragma once
// The program as it runs: the real platform implementations behind the modules and the forms. main() and
// the benchmarks that drive the whole program build it the same way.

#include "DrumPlayer.h"
#include "EngineGraph.h"
#include "GstMusicEngine.h"
#include "MusicControl.h"
#include "Program.h"
#include "Runtime.h"
#include "Skin.h"
#include "SoundControl.h"

namespace zorvik {

// Needs the QApplication already made.
class Studio {
    // First, so the runtime and the skin are ready before any form is made.
    struct Init {
        Init() {
            runtime::InitRuntime();
            skin::InitResources();
        }
    } init_;

  public:
    MusicControl music{GraphsOver([]() -> std::unique_ptr<platform::MusicEngine> {
                           return platform::gst::GstMusicEngine::Create();
                       }),
                       runtime::KeepAnsweringWhile};
    SoundControl sound{[] { return platform::MakeDrumPlayer(); }};
    forms::Program program{music, sound};
};

}  // namespace zorvik
