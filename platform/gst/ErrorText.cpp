#include "ErrorText.h"

#include <gst/gst.h>

#include "MusicFormats.h"

namespace zorvik::platform::gst {

std::string DescribeMissingDecoder(const std::string& missingDecoder, const std::string& missingType) {
    if (IsRefusedMediaType(missingType)) {
        return "this kind of file (" + missingType + ") is not one Zorvik plays; it plays " +
               kPlayableFormatsText;
    }
    return "no decoder for this kind of file is installed (" + missingDecoder + ")";
}

std::string DescribeLoadError(const StreamError& error, const std::string& missingDecoder,
                              const std::string& missingType, bool defaultOutput) {
    if (!missingDecoder.empty()) {
        return DescribeMissingDecoder(missingDecoder, missingType);
    }
    // The system's default output failing to open almost always means no sound server is running.
    if (error.fromSink && defaultOutput) {
        return std::string(kNoSoundOutputText) + " (" + error.message + ")";
    }
    if (error.fromSink) {
        return "the sound output could not be opened: " + error.message;
    }
    if (error.domain == GST_STREAM_ERROR) {
        switch (error.code) {
            case GST_STREAM_ERROR_TYPE_NOT_FOUND:
            case GST_STREAM_ERROR_WRONG_TYPE:
            case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            case GST_STREAM_ERROR_DECODE:
            case GST_STREAM_ERROR_DEMUX:
            case GST_STREAM_ERROR_FORMAT:
                return "the file is not a music file GStreamer can play";
            default:
                break;
        }
    }
    if (error.domain == GST_RESOURCE_ERROR) {
        return "the file could not be read: " + error.message;
    }
    if (error.domain == GST_CORE_ERROR && error.code == GST_CORE_ERROR_MISSING_PLUGIN) {
        return "a GStreamer plug-in needed for this file is missing";
    }
    return "GStreamer could not play the file: " + error.message;
}

std::string DescribePlaybackError(const StreamError& error) {
    if (error.fromSink) {
        return "the sound output stopped working: " + error.message;
    }
    if (error.domain == GST_RESOURCE_ERROR) {
        return "the file can no longer be read: " + error.message;
    }
    if (error.domain == GST_STREAM_ERROR) {
        return "the file is damaged: " + error.message;
    }
    return "playback stopped: " + error.message;
}

}  // namespace zorvik::platform::gst
