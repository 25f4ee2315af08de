// Hydrogen's drumkit.xml, as its three generations write it.

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>
#include <map>

#include "KitFiles.h"
#include "NoteMap.h"

namespace zorvik::kit {
namespace {

// A number from the kit, or `fallback` where there is none or it is not a number.
float Number(const QString& text, float fallback, bool& bad) {
    bool ok = false;
    const float value = text.trimmed().toFloat(&ok);
    if (text.trimmed().isEmpty()) {
        return fallback;
    }
    if (!ok || !std::isfinite(value)) {
        bad = true;
        return fallback;
    }
    return value;
}

int Whole(const QString& text, int fallback) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}

// A sample name as the kit gives it, refused when it would leave the kit's folder.
bool SafeSampleName(const std::string& name) {
    if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos ||
        name.find('\\') != std::string::npos) {
        return false;
    }
    std::size_t from = 0;
    while (from <= name.size()) {
        const std::size_t slash = std::min(name.find('/', from), name.size());
        if (name.compare(from, slash - from, "..") == 0 && slash - from == 2) {
            return false;
        }
        from = slash + 1;
    }
    return true;
}

struct RawLayer {
    std::string file;
    float min = 0.0f, max = 1.0f, gain = 1.0f;
    bool bad = false;  // a range or gain that is not a number in range
};

struct RawInstrument {
    Instrument instrument;
    std::vector<RawLayer> layers;
    std::string file;  // the first generation names its one sample here
    int inNote = -1, outNote = -1;
    bool muted = false;
};

// Gains above this are a broken kit rather than a loud drum (+24 dB).
constexpr float kMaxGain = 16.0f;

class Parser {
  public:
    explicit Parser(std::string_view xml)
        : reader_(QByteArray::fromRawData(xml.data(), static_cast<qsizetype>(xml.size()))) {}

    OpenedKit Run() {
        OpenedKit out;
        if (!reader_.readNextStartElement() || reader_.name() != u"drumkit_info") {
            out.error = reader_.hasError() ? Where("not a drumkit.xml") : "not a Hydrogen drumkit.xml";
            return out;
        }
        std::vector<RawInstrument> raw;
        while (reader_.readNextStartElement()) {
            if (reader_.name() == u"name") {
                out.kit.name = reader_.readElementText().trimmed().toStdString();
            } else if (reader_.name() == u"instrumentList") {
                while (reader_.readNextStartElement()) {
                    if (reader_.name() != u"instrument") {
                        reader_.skipCurrentElement();
                        continue;
                    }
                    if (raw.size() == kMaxInstruments) {
                        out.error = "more than " + std::to_string(kMaxInstruments) + " instruments";
                        return out;
                    }
                    raw.push_back(ReadInstrument(out));
                    if (!out.error.empty()) {
                        return out;
                    }
                }
            } else {
                reader_.skipCurrentElement();
            }
        }
        if (reader_.hasError()) {
            out.error = Where("the drumkit.xml is damaged");
            return out;
        }
        Build(raw, out);
        return out;
    }

  private:
    std::string Where(const char* what) const {
        return std::string(what) + " (line " + std::to_string(reader_.lineNumber()) + ": " +
               reader_.errorString().toStdString() + ")";
    }

    RawInstrument ReadInstrument(OpenedKit& out) {
        RawInstrument r;
        bool bad = false;
        float gain = 1.0f;
        while (reader_.readNextStartElement()) {
            const auto name = reader_.name();
            if (name == u"layer") {
                if (!AddLayer(r, out)) {
                    return r;
                }
            } else if (name == u"instrumentComponent") {
                // Its layers are read as the instrument's own.
                while (reader_.readNextStartElement()) {
                    if (reader_.name() != u"layer") {
                        reader_.skipCurrentElement();
                    } else if (!AddLayer(r, out)) {
                        return r;
                    }
                }
            } else if (name == u"name") {
                r.instrument.name = reader_.readElementText().trimmed().toStdString();
            } else if (name == u"filename") {
                r.file = reader_.readElementText().trimmed().toStdString();
            } else if (name == u"volume") {
                r.instrument.volume = Number(reader_.readElementText(), 1.0f, bad);
            } else if (name == u"gain") {
                gain = Number(reader_.readElementText(), 1.0f, bad);
            } else if (name == u"pan_L") {
                r.instrument.panLeft = Number(reader_.readElementText(), 1.0f, bad);
            } else if (name == u"pan_R") {
                r.instrument.panRight = Number(reader_.readElementText(), 1.0f, bad);
            } else if (name == u"muteGroup") {
                r.instrument.muteGroup = Whole(reader_.readElementText(), -1);
            } else if (name == u"midiInNote") {
                r.inNote = Whole(reader_.readElementText(), -1);
            } else if (name == u"midiOutNote") {
                r.outNote = Whole(reader_.readElementText(), -1);
            } else if (name == u"isMuted") {
                r.muted = reader_.readElementText().trimmed() == u"true";
            } else {
                reader_.skipCurrentElement();
            }
        }
        r.instrument.volume *= gain;
        const Instrument& i = r.instrument;
        for (const float level : {i.volume, i.panLeft, i.panRight}) {
            bad = bad || !(level >= 0.0f && level <= kMaxGain);
        }
        if (bad) {
            out.warnings.push_back("instrument \"" + i.name +
                                   "\" left out: its level or pan is not a number in range");
            r.layers.clear();
            r.file.clear();
            // Kept in the list, silent, so no level out of range is left in the kit.
            r.instrument.volume = r.instrument.panLeft = r.instrument.panRight = 0.0f;
        }
        return r;
    }

    bool AddLayer(RawInstrument& r, OpenedKit& out) {
        if (r.layers.size() == kMaxLayers * kMaxSamplesPerLayer) {
            out.error = "an instrument with more than " + std::to_string(kMaxLayers * kMaxSamplesPerLayer) +
                        " layers";
            return false;
        }
        r.layers.push_back(ReadLayer());
        return true;
    }

    RawLayer ReadLayer() {
        RawLayer layer;
        bool& bad = layer.bad;
        while (reader_.readNextStartElement()) {
            const auto name = reader_.name();
            if (name == u"filename") {
                layer.file = reader_.readElementText().trimmed().toStdString();
            } else if (name == u"min") {
                layer.min = Number(reader_.readElementText(), 0.0f, bad);
            } else if (name == u"max") {
                layer.max = Number(reader_.readElementText(), 1.0f, bad);
            } else if (name == u"gain") {
                layer.gain = Number(reader_.readElementText(), 1.0f, bad);
            } else {
                reader_.skipCurrentElement();
            }
        }
        constexpr float kSlack = 1e-3f;  // kits write 1.0000001 for 1
        bad = bad || !(layer.min >= -kSlack && layer.max <= 1.0f + kSlack && layer.min <= layer.max) ||
              !(layer.gain >= 0.0f && layer.gain <= kMaxGain);
        return layer;
    }

    static void Build(std::vector<RawInstrument>& raw, OpenedKit& out) {
        // A note every instrument shares is the editor's default, not a map of the kit.
        std::map<int, int> uses;
        for (const RawInstrument& r : raw) {
            ++uses[r.inNote >= 0 ? r.inNote : r.outNote];
        }
        std::size_t samples = 0;
        for (RawInstrument& r : raw) {
            Instrument& instrument = r.instrument;
            const RoleOfName role = ReadRole(instrument.name);
            instrument.role = role.role;
            instrument.height = role.height;
            const int given = r.inNote >= 0 ? r.inNote : r.outNote;
            if (given >= 0 && given < kNotes && uses[given] == 1) {
                instrument.givenNote = given;
            }
            if (!r.file.empty()) {
                r.layers.push_back(RawLayer{r.file, 0.0f, 1.0f, 1.0f, false});
            }
            for (const RawLayer& layer : r.layers) {
                if (layer.file.empty()) {
                    continue;
                }
                if (layer.bad) {
                    out.warnings.push_back(
                        "sample \"" + layer.file + "\" of \"" + instrument.name +
                        "\" left out: its velocity range or gain is not a number in range");
                    continue;
                }
                if (!SafeSampleName(layer.file)) {
                    out.warnings.push_back("sample \"" + layer.file + "\" of \"" + instrument.name +
                                           "\" left out: it names a file outside the kit");
                    continue;
                }
                auto same =
                    std::find_if(instrument.layers.begin(), instrument.layers.end(), [&](const Layer& l) {
                        return l.min == std::clamp(layer.min, 0.0f, 1.0f) &&
                               l.max == std::clamp(layer.max, 0.0f, 1.0f);
                    });
                if (same == instrument.layers.end()) {
                    if (instrument.layers.size() == kMaxLayers) {
                        out.error = "instrument \"" + instrument.name + "\" has more than " +
                                    std::to_string(kMaxLayers) + " velocity layers";
                        return;
                    }
                    instrument.layers.push_back(
                        Layer{std::clamp(layer.min, 0.0f, 1.0f), std::clamp(layer.max, 0.0f, 1.0f), {}});
                    same = instrument.layers.end() - 1;
                }
                if (same->samples.size() == kMaxSamplesPerLayer || ++samples > kMaxKitSamples) {
                    out.error = "more samples than a kit may have (" + std::to_string(kMaxSamplesPerLayer) +
                                " in one velocity range, " + std::to_string(kMaxKitSamples) + " in all)";
                    return;
                }
                same->samples.push_back(SampleRef{layer.file, layer.gain});
            }
            std::sort(instrument.layers.begin(), instrument.layers.end(),
                      [](const Layer& a, const Layer& b) { return a.min < b.min; });
            instrument.muted = r.muted;
            out.kit.instruments.push_back(std::move(instrument));
        }
        if (out.kit.name.empty()) {
            out.kit.name = "Hydrogen kit";
        }
        AssignNotes(out.kit);
    }

    QXmlStreamReader reader_;
};

}  // namespace

OpenedKit ParseHydrogenKit(std::string_view xml) {
    return Parser(xml).Run();
}

}  // namespace zorvik::kit
