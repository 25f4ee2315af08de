#include "MusicFormats.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>
#include <vector>

namespace zorvik::platform::gst {

namespace {

// The elements autoplugging may still pick for a song, by format. Where two decoders exist for one
// format, both stay, so a desktop without one of the packages still plays the file.
constexpr std::string_view kMusicElements[] = {
    // MP3, with the ID3 and APE tags in front of or behind it
    "mpegaudioparse", "mpg123audiodec", "avdec_mp3", "avdec_mp3float", "id3demux", "apedemux",
    // Ogg Vorbis, Ogg Opus and Ogg FLAC
    "oggdemux", "vorbisparse", "vorbisdec", "opusparse", "opusdec",
    // FLAC
    "flacparse", "flacdec",
    // WAV and AIFF, with the codings WAV files use besides PCM
    "wavparse", "aiffparse", "alawdec", "mulawdec", "adpcmdec", "avdec_adpcm_ms", "avdec_adpcm_ima_wav",
    "avdec_gsm_ms",
    // AAC and M4A (AAC or ALAC)
    "qtdemux", "aacparse", "avdec_aac", "avdec_aac_fixed", "avdec_aac_latm", "faad", "fdkaacdec",
    "avdec_alac",
    // WMA
    "asfdemux", "avdec_wmav1", "avdec_wmav2", "avdec_wmapro", "avdec_wmalossless", "avdec_wmavoice"};

// GStreamer's own type finders cover every format above; plug-ins add finders for their own exotic
// formats, and running one loads its plug-in into the process.
constexpr const char* kOwnTypeFinders = "typefindfunctions";

// Filled once by KeepAutoplugToMusic, read-only after it.
std::vector<GstElementFactory*>& Refused() {
    static std::vector<GstElementFactory*> refused;
    return refused;
}

bool IsMusicElement(const char* name) {
    return std::find(std::begin(kMusicElements), std::end(kMusicElements), std::string_view(name)) !=
           std::end(kMusicElements);
}

// What playbin's autoplugging can reach: everything that decodes, and the sinks it offers streams to
// directly. Audio sinks stay, since the system's default output is chosen among them.
bool IsAutoplugged(GstElementFactory* factory) {
    if (gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODABLE)) {
        return true;
    }
    return gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_SINK) &&
           !gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO);
}

}  // namespace

void KeepAutoplugToMusic() {
    GstRegistry* registry = gst_registry_get();
    GList* factories = gst_registry_get_feature_list(registry, GST_TYPE_ELEMENT_FACTORY);
    for (GList* item = factories; item; item = item->next) {
        auto* feature = GST_PLUGIN_FEATURE(item->data);
        auto* factory = GST_ELEMENT_FACTORY(feature);
        if (gst_plugin_feature_get_rank(feature) == GST_RANK_NONE || !IsAutoplugged(factory)) {
            continue;
        }
        if (IsMusicElement(gst_plugin_feature_get_name(feature))) {
            continue;
        }
        gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
        if (gst_element_factory_list_is_type(factory, GST_ELEMENT_FACTORY_TYPE_DECODABLE)) {
            Refused().push_back(GST_ELEMENT_FACTORY(gst_object_ref(factory)));
        }
    }
    gst_plugin_feature_list_free(factories);

    GList* finders = gst_registry_get_feature_list(registry, GST_TYPE_TYPE_FIND_FACTORY);
    for (GList* item = finders; item; item = item->next) {
        auto* feature = GST_PLUGIN_FEATURE(item->data);
        const gchar* plugin = gst_plugin_feature_get_plugin_name(feature);
        if (!plugin || std::strcmp(plugin, kOwnTypeFinders) != 0) {
            gst_registry_remove_feature(registry, feature);
        }
    }
    gst_plugin_feature_list_free(finders);
}

bool IsRefusedMediaType(const std::string& mediaType) {
    if (mediaType.empty()) {
        return false;
    }
    GstCaps* caps = gst_caps_new_empty_simple(mediaType.c_str());
    const bool refused = std::any_of(Refused().begin(), Refused().end(), [caps](GstElementFactory* factory) {
        return gst_element_factory_can_sink_any_caps(factory, caps);
    });
    gst_caps_unref(caps);
    return refused;
}

}  // namespace zorvik::platform::gst
