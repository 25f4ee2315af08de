#pragma once
// The checks a music file passes before GStreamer sees it.

#include <optional>
#include <string>

namespace zorvik::platform {

std::optional<std::string> checkFile(const std::string& fileName);

}  // namespace zorvik::platform
