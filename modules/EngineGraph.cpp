#include "EngineGraph.h"

#include <cmath>

namespace zorvik {

namespace {

constexpr std::int32_t kSilence = -10000;
constexpr std::int32_t kBalanceLimit = 10000;

}  // namespace

std::shared_ptr<EngineGraph> EngineGraph::Over(std::unique_ptr<platform::MusicEngine> engine) {
    if (!engine) {
        return nullptr;
    }
    return std::shared_ptr<EngineGraph>(new EngineGraph(std::move(engine)));
}

graph::HResult EngineGraph::Answer(const platform::Status& status) {
    errorText_ = status.Reason();
    switch (status.GetKind()) {
        case platform::Status::Kind::kDone:
            return graph::kOk;
        case platform::Status::Kind::kBadArgument:
            return graph::kInvalidArg;
        case platform::Status::Kind::kFailed:
            break;
    }
    return graph::kFail;
}

graph::HResult EngineGraph::RenderFile(const std::string& fileName) {
    return Answer(engine_->Load(fileName));
}

graph::HResult EngineGraph::Run() {
    return Answer(engine_->Play());
}

graph::HResult EngineGraph::Stop() {
    return Answer(engine_->Pause());
}

std::string EngineGraph::LastErrorText() const {
    return errorText_;
}

graph::HResult EngineGraph::put_Volume(std::int32_t hundredthsOfDecibel) {
    if (hundredthsOfDecibel < kSilence || hundredthsOfDecibel > 0) {
        return Answer(
            platform::Status::BadArgument("the volume must be between -10000 and 0 hundredths of a decibel"));
    }
    return Answer(engine_->SetGain(
        hundredthsOfDecibel == kSilence ? 0.0 : std::pow(10.0, hundredthsOfDecibel / 100.0 / 20.0)));
}

graph::HResult EngineGraph::put_Balance(std::int32_t balance) {
    if (balance < -kBalanceLimit || balance > kBalanceLimit) {
        return Answer(platform::Status::BadArgument("the balance must be between -10000 and 10000"));
    }
    return Answer(engine_->SetBalance(static_cast<double>(balance) / kBalanceLimit));
}

graph::HResult EngineGraph::put_Rate(double rate) {
    return Answer(engine_->SetSpeed(rate));
}

graph::HResult EngineGraph::put_CurrentPosition(double seconds) {
    return Answer(engine_->Seek(seconds));
}

graph::MediaGraphFactory GraphsOver(platform::MusicEngineFactory makeEngine) {
    return [makeEngine = std::move(makeEngine)]() -> std::shared_ptr<graph::IMediaControl> {
        return makeEngine ? EngineGraph::Over(makeEngine()) : nullptr;
    };
}

}  // namespace zorvik
