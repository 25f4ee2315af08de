#include "Program.h"

#include "Zorv.h"
#include "ZorvSplash.h"

namespace zorvik::forms {

Program::Program(MusicControl& music, SoundControl& sound) : music_(music), sound_(sound) {}

Program::~Program() = default;

ZorvSplash& Program::SplashForm() {
    if (!splash_) {
        splash_ = std::make_unique<ZorvSplash>(*this);
    }
    return *splash_;
}

Zorv& Program::MainForm() {
    if (!zorv_) {
        zorv_ = std::make_unique<Zorv>(*this, music_, sound_);
    }
    return *zorv_;
}

}  // namespace zorvik::forms
