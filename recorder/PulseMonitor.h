#pragma once

#include <chrono>

#include "AudioSource.h"

namespace zorvik::recorder {

// Records the monitor of the sound server's default output, i.e. everything the computer plays.
// Gives up after `timeout` if the server is there but does not answer; fails at once if there is none.
std::unique_ptr<AudioSource> OpenPulseMonitor(std::chrono::milliseconds timeout, std::string& error);

}  // namespace zorvik::recorder
