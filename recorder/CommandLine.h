#pragma once

#include <QString>

#include "AudioSource.h"

namespace zorvik::recorder {

// Records `seconds` of sound into `output` without a window, for scripts and tests. Returns the exit
// code: 0 once the file is complete, non-zero (with the reason on stderr) if nothing could be recorded.
int RecordToFile(double seconds, const QString& output, const SourceFactory& source);

}  // namespace zorvik::recorder
