#pragma once
// Which GStreamer elements a song may reach. A desktop has hundreds of plug-ins installed (video sinks,
// image and game-music decoders, network demuxers), and playbin's autoplugging loads and tries any of
// them that claims a stream's type. A file of a few bytes that looks like some exotic format can so pull
// a plug-in into the process that crashes in its own threads. Zorvik plays music, so autoplugging is kept
// to the parsers, demuxers and decoders of the audio formats users have, and to the audio sinks.

#include <string>

namespace zorvik::platform::gst {

// The formats, as a user reads them in a message.
inline constexpr const char* kPlayableFormatsText =
    "MP3, Ogg Vorbis, Opus, FLAC, WAV, AIFF, AAC, M4A (AAC or ALAC) and WMA";

// Takes every other element out of autoplugging (rank none, for this process only; the registry on
// disk is untouched) and drops the type finders that plug-ins outside GStreamer's own set bring along.
// Call once, after gst_init and before the first pipeline is built. Elements made by name still work.
void KeepAutoplugToMusic();

// Whether a stream of this media type ("audio/x-gbs") could have been played by an element that
// KeepAutoplugToMusic took out of autoplugging, so the file is of a kind Zorvik does not play rather than
// one whose decoder is missing.
bool IsRefusedMediaType(const std::string& mediaType);

}  // namespace zorvik::platform::gst
