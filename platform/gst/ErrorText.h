#pragma once
// How what went wrong is put to the user: the reasons RenderFile and the later operations give.

#include <string>

#include "BusRecord.h"

namespace zorvik::platform::gst {

// What RenderFile reports when the system's default sound output cannot be used.
inline constexpr const char* kNoSoundOutputText =
    "No sound output is available: is the sound server running?";

// Why a file did not load. `defaultOutput`: the graph plays to the system's default output.
std::string DescribeLoadError(const StreamError& error, const std::string& missingDecoder,
                              const std::string& missingType, bool defaultOutput);
// Why no decoder was found for a stream of `missingType`: none installed, or none Zorvik lets it reach.
std::string DescribeMissingDecoder(const std::string& missingDecoder, const std::string& missingType);
// Why a loaded song stopped playing.
std::string DescribePlaybackError(const StreamError& error);

}  // namespace zorvik::platform::gst
