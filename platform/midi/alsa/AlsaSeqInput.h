#pragma once
// The MIDI input where there is no PipeWire: an ALSA sequencer client with one input port that takes
// every hardware source there is, and every one plugged in later. Messages arrive on a thread of its own
// as the sequencer delivers them, so they are placed at the start of the next block the drums render
// rather than at their own frame.

#include <alsa/asoundlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "MidiInput.h"

namespace zorvik::platform::midi {

class AlsaSeqInput final : public MidiInput {
  public:
    // A client named `clientName` whose port takes the hardware sources; `onMessage` runs on the
    // input's thread. nullptr, quietly, where there is no sequencer.
    static std::unique_ptr<AlsaSeqInput> Open(const std::string& clientName, MidiCallback onMessage);
    ~AlsaSeqInput() override;
    const char* Name() const override { return "alsa sequencer"; }
    AlsaSeqInput(const AlsaSeqInput&) = delete;
    AlsaSeqInput& operator=(const AlsaSeqInput&) = delete;

  private:
    AlsaSeqInput(snd_seq_t* seq, int port, int stopFd, MidiCallback onMessage);
    // Subscribes the port to the source at `client`:`port` if it is hardware that sends.
    void TakeIfHardware(int client, int port);
    void Run();

    snd_seq_t* seq_;
    const int port_;
    const int stopFd_;
    const MidiCallback onMessage_;
    std::thread thread_;
};

// A sequencer event as the MIDI message it stands for: notes, key pressure, controllers and program
// changes on any channel. Returns
// the message's size, 0 for an event the drums take no notice of.
std::size_t ToMidiMessage(const snd_seq_event_t& event, std::uint8_t (&message)[3]);

}  // namespace zorvik::platform::midi
