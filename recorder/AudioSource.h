#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zorvik::recorder {

// Every recording is 48 kHz stereo, whatever the sound card runs at: the sound server converts.
inline constexpr int kRate = 48000;
inline constexpr int kChannels = 2;

// Where the recorded sound comes from: the sound server in the program, a generator in the tests.
// Lives entirely on the capture thread.
class AudioSource {
  public:
    virtual ~AudioSource() = default;

    // Appends whatever interleaved stereo samples have arrived, waiting at most a fraction of a second
    // for some, so that the caller gets to check for a stop request between calls. False, with the
    // reason in `error`, once the source can give nothing more.
    virtual bool Read(std::vector<float>& samples, std::string& error) = 0;
};

// Called on the capture thread, since connecting may take a while. Null, with the reason in `error`,
// when there is nothing to record from, or once `stop` is set: a Stop while it connects must not wait
// for a server that is slow to answer.
using SourceFactory =
    std::function<std::unique_ptr<AudioSource>(const std::atomic<bool>& stop, std::string& error)>;

}  // namespace zorvik::recorder
