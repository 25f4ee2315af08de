#pragma once
// Where the drums' MIDI notes come from: one interface beside the audio outputs, chosen in one place, so
// the kit and the player take bytes without caring which input they came through. No Qt in here.

#include <memory>

#include "AudioOutput.h"

namespace zorvik::platform::midi {

// Takes MIDI bytes: one message, or several under running status (status byte first, or data bytes
// that run on from the status before). Called on the input's own thread or, for an output's own input,
// on its render thread between two render calls.
using MidiCallback = audio::MidiCallback;

class MidiInput {
  public:
    virtual ~MidiInput() = default;
    // A short name for logs: "pipewire", "alsa sequencer".
    virtual const char* Name() const = 0;
    // Whether its notes reach the drums through the output's render thread, at their own frame.
    virtual bool OfTheOutput() const { return false; }
};

// The input for the drums playing into `output`: the output's own (PipeWire's MIDI node, which shares
// the drums' connection and node group, opened with the output through audio::OpenOptions::midi) where
// it offers one, else the ALSA sequencer, whose notes go to `onMessage` on a thread of its own; nullptr
// when there is neither. Through PipeWire the sequencer would hear a kit a second time by way of
// PipeWire's own bridge, so it never opens beside the output's own.
std::unique_ptr<MidiInput> OpenMidiInput(const audio::AudioOutput& output, MidiCallback onMessage);

}  // namespace zorvik::platform::midi
