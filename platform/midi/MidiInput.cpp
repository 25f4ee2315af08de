#include "MidiInput.h"

#include "AlsaSeqInput.h"

namespace zorvik::platform::midi {
namespace {

// The output's own input: it is opened and closed with the output; this only stands for it.
class OutputMidiInput final : public MidiInput {
  public:
    const char* Name() const override { return "pipewire"; }
    bool OfTheOutput() const override { return true; }
};

}  // namespace

std::unique_ptr<MidiInput> OpenMidiInput(const audio::AudioOutput& output, MidiCallback onMessage) {
    if (output.HasMidiInput()) {
        return std::make_unique<OutputMidiInput>();
    }
    return AlsaSeqInput::Open("Zorvik", std::move(onMessage));
}

}  // namespace zorvik::platform::midi
