#pragma once

#include <chrono>

#include "AudioSource.h"

namespace zorvik::recorder {

// Records the monitor of the sound server's default output, i.e. everything the computer plays.
// Gives up after `timeout` if the server is there but does not answer, or within a few tens of
// milliseconds of `stop` being set; fails at once if there is none.
std::unique_ptr<AudioSource> OpenPulseMonitor(std::chrono::milliseconds timeout,
                                              const std::atomic<bool>& stop, std::string& error);

}  // namespace zorvik::recorder
