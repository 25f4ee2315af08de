// Drum kits: Hydrogen kits as their makers wrote them, kits made broken on purpose, and a kit played
// from MIDI through the player, rendered block by block on the test's own thread.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <tuple>

#include "DrumPlayer.h"
#include "KitFiles.h"
#include "KitLoader.h"
#include "NoteMap.h"
#include "TestMedia.h"

namespace zorvik::platform::samples {
namespace {

namespace fs = std::filesystem;
using kit::Role;
using testmedia::TempDir;

const fs::path kHydrogenKits = "/usr/share/hydrogen/data/drumkits";

std::vector<std::string> InstalledKits() {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(kHydrogenKits, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a drumkit.xml says, read by searching its text rather than with an XML reader, per instrument:
// how many sample files it names, how many of those the package ships, and its mute group.
struct XmlFacts {
    std::vector<std::size_t> files;
    std::vector<std::size_t> shipped;
    std::vector<int> muteGroups;
};
XmlFacts ReadFacts(const fs::path& xml) {
    const std::string text = testmedia::ReadBytes(xml);
    XmlFacts facts;
    for (std::size_t at = text.find("<instrument>"); at != std::string::npos;
         at = text.find("<instrument>", at + 1)) {
        const std::string body = text.substr(at, text.find("</instrument>", at) - at);
        std::size_t files = 0, shipped = 0;
        for (std::size_t f = body.find("<filename>"); f != std::string::npos;
             f = body.find("<filename>", f + 1)) {
            ++files;
            const std::string name = body.substr(f + 10, body.find('<', f + 10) - f - 10);
            shipped += fs::exists(xml.parent_path() / name) ? 1 : 0;
        }
        facts.files.push_back(files);
        facts.shipped.push_back(shipped);
        const std::size_t mute = body.find("<muteGroup>");
        facts.muteGroups.push_back(mute == std::string::npos ? -1 : std::stoi(body.substr(mute + 11)));
    }
    return facts;
}

std::size_t Samples(const kit::Instrument& instrument) {
    std::size_t n = 0;
    for (const kit::Layer& layer : instrument.layers) {
        n += layer.samples.size();
    }
    return n;
}

TEST(HydrogenKits, TheFourteenKitsOfTheTestSetUpAreThere) {
    EXPECT_EQ(InstalledKits().size(), 14u) << "the test set-up installs hydrogen-drumkits";
}

class InstalledKit : public testing::TestWithParam<std::string> {};

// Every kit loads whole: what its drumkit.xml says, every sample decoded, a note for every instrument
// that plays and no note for two, and each window row given to an instrument of its own role.
TEST_P(InstalledKit, LoadsAsItsDrumkitXmlSays) {
    const fs::path folder = kHydrogenKits / GetParam();
    const kit::OpenedKit opened = kit::OpenHydrogenKit(folder.string());
    ASSERT_EQ(opened.error, "");
    const XmlFacts facts = ReadFacts(folder / "drumkit.xml");
    ASSERT_EQ(opened.kit.instruments.size(), facts.files.size());
    for (std::size_t i = 0; i < facts.files.size(); ++i) {
        EXPECT_EQ(Samples(opened.kit.instruments[i]), facts.files[i]) << opened.kit.instruments[i].name;
        EXPECT_EQ(opened.kit.instruments[i].muteGroup, facts.muteGroups[i]) << opened.kit.instruments[i].name;
    }

    const std::atomic<bool> cancelled{false};
    const KitLoad load = LoadKit(opened, cancelled);
    ASSERT_NE(load.kit, nullptr) << load.error;
    // A sample the kit names but the package lacks (one in Millo_MultiLayered2) is said and left out.
    std::size_t missing = 0;
    for (std::size_t i = 0; i < facts.files.size(); ++i) {
        missing += opened.kit.instruments[i].muted ? 0 : facts.files[i] - facts.shipped[i];
    }
    EXPECT_EQ(load.warnings.size(), missing) << (load.warnings.empty() ? "" : load.warnings.front());
    const kit::Kit& loaded = load.kit->kit;
    for (std::size_t i = 0; i < loaded.instruments.size(); ++i) {
        const kit::Instrument& instrument = loaded.instruments[i];
        if (instrument.muted) {
            continue;  // never decoded: it never plays
        }
        EXPECT_EQ(Samples(instrument), facts.shipped[i]) << instrument.name << ": every sample decodes";
        if (instrument.layers.empty()) {
            continue;
        }
        EXPECT_FALSE(instrument.notes.empty()) << instrument.name;
        for (const std::uint8_t note : instrument.notes) {
            EXPECT_EQ(loaded.byNote[note], static_cast<int>(i));
        }
    }
    const Role rowRoles[kit::kRows] = {Role::kKick, Role::kSnare, Role::kClosedHiHat, Role::kOpenHiHat,
                                       Role::kTom,  Role::kTom,   Role::kTom,         Role::kCrash};
    for (std::size_t row = 0; row < kit::kRows; ++row) {
        if (loaded.rows[row] < 0) {
            continue;
        }
        const Role role = loaded.instruments[static_cast<std::size_t>(loaded.rows[row])].role;
        EXPECT_TRUE(role == rowRoles[row] || (row == 2 && role == Role::kPedalHiHat) ||
                    (row == 3 && role == Role::kHalfOpenHiHat))
            << kit::kDrumNames[row] << " plays "
            << loaded.instruments[static_cast<std::size_t>(loaded.rows[row])].name;
    }
}

INSTANTIATE_TEST_SUITE_P(Debian, InstalledKit, testing::ValuesIn(InstalledKits()),
                         [](const testing::TestParamInfo<std::string>& row) {
                             std::string name = row.param;
                             std::replace_if(
                                 name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
                             return name;
                         });

// The notes an e-kit sends reach the drum it means, whatever the instrument's place in the kit.
struct NoteRow {
    const char* kit;
    std::uint8_t note;
    const char* instrument;
};

class KitNoteTest : public testing::TestWithParam<NoteRow> {};

TEST_P(KitNoteTest, PlaysTheInstrumentOfItsRole) {
    const kit::OpenedKit opened = kit::OpenHydrogenKit((kHydrogenKits / GetParam().kit).string());
    ASSERT_EQ(opened.error, "");
    const int instrument = opened.kit.byNote[GetParam().note];
    ASSERT_GE(instrument, 0);
    EXPECT_EQ(opened.kit.instruments[static_cast<std::size_t>(instrument)].name, GetParam().instrument);
}

INSTANTIATE_TEST_SUITE_P(
    Kits, KitNoteTest,
    testing::Values(
        NoteRow{"Millo_MultiLayered2", 36, "Kick"}, NoteRow{"Millo_MultiLayered2", 37, "Stick"},
        NoteRow{"Millo_MultiLayered2", 42, "Closed HH"}, NoteRow{"Millo_MultiLayered2", 44, "Pedal HH"},
        NoteRow{"Millo_MultiLayered2", 46, "Open HH"}, NoteRow{"Millo_MultiLayered2", 50, "Tom Hi"},
        NoteRow{"Millo_MultiLayered2", 51, "Ride Jazz"}, NoteRow{"Millo_MultiLayered2", 59, "Ride Rock"},
        NoteRow{"Millo_MultiLayered2", 49, "Crash"}, NoteRow{"Millo_MultiLayered2", 41, "Tom Low"},
        NoteRow{"ForzeeStereo", 35, "Kick (Tama Superstar 22\")"},
        NoteRow{"ForzeeStereo", 81, "Hi-Hat Semiopen (Paiste Alpha Metal edge 14\")"},
        NoteRow{"BJA_Pacific", 36, "BassDrum"}, NoteRow{"BJA_Pacific", 43, "Floor Tom"},
        NoteRow{"rumpf_kit_z01_h2", 46, "a#3 - hi-hat open"}),
    [](const testing::TestParamInfo<NoteRow>& row) {
        return std::string(row.param.kit).substr(0, 5) + "_" + std::to_string(row.param.note);
    });

std::string Instrument(const std::string& name, const std::string& layers, const std::string& extra = "") {
    return "<instrument><name>" + name + "</name>" + extra + layers + "</instrument>";
}
std::string Layer(const std::string& file, const std::string& range = "<min>0</min><max>1</max>",
                  const std::string& gain = "1") {
    return "<layer><filename>" + file + "</filename>" + range + "<gain>" + gain + "</gain></layer>";
}
std::string Kit(const std::string& instruments) {
    return "<drumkit_info><name>Broken</name><instrumentList>" + Instrument("Kick", Layer("good.wav")) +
           instruments + "</instrumentList></drumkit_info>";
}

// The three ways a drumkit.xml names an instrument's samples, and layers of one range played in turn.
TEST(HydrogenGenerations, EachNamesItsSamples) {
    const std::string inInstrument = "<filename>a.flac</filename>";
    const std::string layers = Layer("a.flac", "<min>0</min><max>0.5</max>") +
                               Layer("b.flac", "<min>0.5</min><max>1</max>") +
                               Layer("c.flac", "<min>0.5</min><max>1</max>", "0.5");
    const std::string component =
        "<instrumentComponent><component_id>0</component_id>" + layers + "</instrumentComponent>";
    for (const std::string& body : {inInstrument, layers, component}) {
        const kit::OpenedKit opened = kit::ParseHydrogenKit(
            "<drumkit_info xmlns=\"http://www.hydrogen-music.org/drumkit\"><name>G</name><instrumentList>" +
            Instrument("Snare", body) + "</instrumentList></drumkit_info>");
        ASSERT_EQ(opened.error, "") << body;
        ASSERT_EQ(opened.kit.instruments.size(), 1u);
        const kit::Instrument& snare = opened.kit.instruments[0];
        if (body == inInstrument) {
            ASSERT_EQ(snare.layers.size(), 1u);
            EXPECT_EQ(snare.layers[0].samples[0].file, "a.flac");
            continue;
        }
        ASSERT_EQ(snare.layers.size(), 2u) << body;
        EXPECT_EQ(snare.layers[1].samples.size(), 2u) << "b and c share a range";
        EXPECT_EQ(snare.layers[1].samples[1].gain, 0.5f);
        // Its own notes, and the side stick's and clap's, which the kit has no instrument for.
        EXPECT_EQ(snare.notes, (std::vector<std::uint8_t>{38, 40, 37, 39}));
    }
}

// Names as kits write them.
struct RoleRow {
    const char* name;
    Role role;
    int height;
};

class RoleTest : public testing::TestWithParam<RoleRow> {};

TEST_P(RoleTest, IsReadFromTheName) {
    const kit::RoleOfName read = kit::ReadRole(GetParam().name);
    EXPECT_EQ(static_cast<int>(read.role), static_cast<int>(GetParam().role));
    if (read.role == Role::kTom) {
        EXPECT_EQ(read.height, GetParam().height);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, RoleTest,
    testing::Values(
        RoleRow{"Kick (Tama Superstar 22\")", Role::kKick, 0}, RoleRow{"BassDrum", Role::kKick, 0},
        RoleRow{"c3 - bass drum 1", Role::kKick, 0}, RoleRow{"Djembe1 Bass", Role::kOther, 0},
        RoleRow{"Rim Click (Pearl)", Role::kSideStick, 0}, RoleRow{"Snare Rimshot", Role::kSnare, 0},
        RoleRow{"Hi-Hat Semiopen", Role::kHalfOpenHiHat, 0},
        RoleRow{"VariBreaks Hat 1 Pd", Role::kPedalHiHat, 0}, RoleRow{"Side OHH", Role::kOpenHiHat, 0},
        RoleRow{"Hi Hat Opened", Role::kOpenHiHat, 0}, RoleRow{"Closed HH", Role::kClosedHiHat, 0},
        RoleRow{"Tambourine Pedal", Role::kOther, 0}, RoleRow{"Ride (Custom, Zagrebin 22\")", Role::kRide, 0},
        RoleRow{"ride-cup", Role::kRideBell, 0}, RoleRow{"ride-crash20inch", Role::kRide, 0},
        RoleRow{"Crash/Ride (Paiste)", Role::kCrash, 0}, RoleRow{"tomhi2", Role::kTom, 0},
        RoleRow{"Pearl Tom Floor", Role::kTom, 3}, RoleRow{"Tom Low", Role::kTom, 2},
        RoleRow{"Pearl Tom 2", Role::kTom, 1}),
    [](const testing::TestParamInfo<RoleRow>& row) { return "Row" + std::to_string(row.index); });

// ---------------------------------------------------------------------------------------------------
// Broken kits: each loads what it can, or is refused with its reason.

struct BadKitRow {
    const char* name;
    std::string xml;      // the drumkit.xml; "good.wav" and "../outside.wav" exist, "link.wav" leads out
    const char* refused;  // part of the reason; nullptr when the kit loads
    const char* warning;  // part of a warning when it loads; nullptr for none
};

class BadKitTest : public testing::TestWithParam<BadKitRow> {};

TEST_P(BadKitTest, LoadsWhatItCanOrSaysWhyNot) {
    TempDir dir;
    fs::create_directories(dir / "kit");
    const std::vector<float> hit = testmedia::Sine(4800, 1, 48000, 200, 0.5);
    ASSERT_TRUE(testmedia::WriteSound(dir / "kit/good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, hit));
    ASSERT_TRUE(testmedia::WriteSound(dir / "outside.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, hit));
    ASSERT_TRUE(testmedia::WriteBytes(dir / "kit/noise.wav", std::string(4000, 'x')));
    fs::create_symlink(dir / "outside.wav", dir / "kit/link.wav");
    std::string xml = GetParam().xml;
    if (const std::size_t at = xml.find("ABSOLUTE"); at != std::string::npos) {
        xml.replace(at, 8, (dir / "outside.wav").string());
    }
    ASSERT_TRUE(testmedia::WriteBytes(dir / "kit/drumkit.xml", xml));

    const std::atomic<bool> cancelled{false};
    const KitLoad load = LoadKitAt((dir / "kit").string(), cancelled);
    if (GetParam().refused) {
        EXPECT_EQ(load.kit, nullptr);
        EXPECT_NE(load.error.find(GetParam().refused), std::string::npos) << load.error;
        return;
    }
    ASSERT_NE(load.kit, nullptr) << load.error;
    EXPECT_EQ(load.kit->kit.rows[0], 0) << "the good kick plays";
    const bool warned = std::any_of(load.warnings.begin(), load.warnings.end(), [](const std::string& w) {
        return GetParam().warning && w.find(GetParam().warning) != std::string::npos;
    });
    EXPECT_EQ(warned, GetParam().warning != nullptr) << (load.warnings.empty() ? "" : load.warnings.front());
}

std::string ManyLayers(int count) {
    std::string layers;
    for (int i = 0; i < count; ++i) {
        layers += Layer("good.wav");
    }
    return Instrument("Snare", layers);
}

INSTANTIATE_TEST_SUITE_P(
    Kits, BadKitTest,
    testing::Values(
        BadKitRow{"Good", Kit(Instrument("Snare", Layer("good.wav"))), nullptr, nullptr},
        BadKitRow{"NotXml", "this is not a drum kit", "not a", nullptr},
        BadKitRow{"CutShort", Kit("").substr(0, 60), "damaged", nullptr},
        BadKitRow{"MissingSample", Kit(Instrument("Snare", Layer("gone.wav"))), nullptr, "missing"},
        BadKitRow{"UndecodableSample", Kit(Instrument("Snare", Layer("noise.wav"))), nullptr,
                  "is not a sample"},
        BadKitRow{"PathUpwards", Kit(Instrument("Snare", Layer("../outside.wav"))), nullptr,
                  "outside the kit"},
        BadKitRow{"AbsolutePath", Kit(Instrument("Snare", Layer("ABSOLUTE"))), nullptr, "outside the kit"},
        BadKitRow{"LinkOut", Kit(Instrument("Snare", Layer("link.wav"))), nullptr, "leads outside"},
        BadKitRow{"NanGain", Kit(Instrument("Snare", Layer("good.wav", "<min>0</min><max>1</max>", "nan"))),
                  nullptr, "not a number in range"},
        BadKitRow{"NegativeVolume", Kit(Instrument("Snare", Layer("good.wav"), "<volume>-1</volume>")),
                  nullptr, "not a number in range"},
        BadKitRow{"RangeOutside",
                  Kit(Instrument("Snare", Layer("good.wav", "<min>-0.5</min><max>1.5</max>"))), nullptr,
                  "not a number in range"},
        BadKitRow{"TenThousandLayers", Kit(ManyLayers(10000)), "more than", nullptr},
        BadKitRow{"NothingPlays",
                  "<drumkit_info><instrumentList>" + Instrument("Kick", Layer("gone.wav")) +
                      "</instrumentList></drumkit_info>",
                  "none of its samples", nullptr}),
    [](const testing::TestParamInfo<BadKitRow>& row) { return std::string(row.param.name); });

// A .h2drumkit is a kit's folder packed with tar and gzip; what is not one is refused.
TEST(KitArchive, LoadsPackedAndIsRefusedDamaged) {
    TempDir dir;
    fs::create_directories(dir / "Packed");
    ASSERT_TRUE(testmedia::WriteSound(dir / "Packed/good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000,
                                      testmedia::Sine(4800, 1, 48000, 200, 0.5)));
    ASSERT_TRUE(
        testmedia::WriteBytes(dir / "Packed/drumkit.xml", Kit(Instrument("Snare", Layer("good.wav")))));
    const std::string tar =
        "tar -C '" + dir.Path().string() + "' -czf '" + (dir / "packed.h2drumkit").string() + "' Packed";
    ASSERT_EQ(std::system(tar.c_str()), 0);
    ASSERT_TRUE(testmedia::WriteBytes(dir / "damaged.h2drumkit",
                                      testmedia::ReadBytes(dir / "packed.h2drumkit").substr(0, 200)));
    ASSERT_TRUE(testmedia::WriteBytes(dir / "noise.h2drumkit", std::string(5000, 'z')));

    const std::atomic<bool> cancelled{false};
    const KitLoad packed = LoadKitAt((dir / "packed.h2drumkit").string(), cancelled);
    ASSERT_NE(packed.kit, nullptr) << packed.error;
    EXPECT_EQ(packed.kit->kit.instruments.size(), 2u);
    for (const char* name : {"damaged.h2drumkit", "noise.h2drumkit"}) {
        const KitLoad refused = LoadKitAt((dir / name).string(), cancelled);
        EXPECT_EQ(refused.kit, nullptr) << name;
        EXPECT_NE(refused.error, "") << name;
    }
}

// ---------------------------------------------------------------------------------------------------
// A kit played from MIDI. Each sample is a constant, so the level of a frame says which samples sound.

class DrivenOutput final : public audio::AudioOutput {
  public:
    explicit DrivenOutput(std::function<bool(const Change&)> rewrite) : rewrite_(std::move(rewrite)) {}
    bool Alive() const override { return true; }
    const char* Name() const override { return "driven"; }
    std::chrono::microseconds Latency() const override { return {}; }
    bool Rewrite(const Change& change) override { return rewrite_(change); }

  private:
    std::function<bool(const Change&)> rewrite_;
};

std::shared_ptr<LoadedKit> ConstantKit(
    const std::vector<std::tuple<std::string, int, std::vector<std::vector<float>>>>& drums) {
    auto loaded = std::make_shared<LoadedKit>();
    for (const auto& [name, note, layers] : drums) {
        kit::Instrument instrument;
        instrument.name = name;
        instrument.role = kit::ReadRole(name).role;
        instrument.givenNote = note;
        std::vector<std::vector<ClipPtr>> clips;
        for (std::size_t l = 0; l < layers.size(); ++l) {
            kit::Layer layer{
                static_cast<float>(l) / layers.size(), static_cast<float>(l + 1) / layers.size(), {}};
            clips.emplace_back();
            for (const float value : layers[l]) {
                layer.samples.push_back({"", 1.0f});
                clips.back().push_back(
                    std::make_shared<StereoClip>(StereoClip{std::vector<float>(kMixRate * 2, value)}));
            }
            instrument.layers.push_back(layer);
        }
        loaded->kit.instruments.push_back(instrument);
        loaded->clips.push_back(clips);
    }
    kit::AssignNotes(loaded->kit);
    loaded->hiHats = kit::FindHiHats(loaded->kit);
    return loaded;
}

class MidiKitTest : public testing::Test {
  protected:
    void SetUp() override { Open(); }

    // Makes the player and opens its output; the opening waits for `gate` when one is given.
    void Open(std::shared_future<void> gate = {}, const std::function<void()>& whileOpening = {}) {
        if (!player_) {
            MakePlayer();
        }
        gate_ = std::move(gate);
        player_->Prepare();
        if (whileOpening) {
            whileOpening();
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!player_->Output() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
            player_->Prepare();
        }
        ASSERT_NE(player_->Output(), nullptr);
    }
    void MakePlayer() {
        DrumPlayerOptions options;
        options.openOutput = [this](audio::RenderCallback render, audio::MidiCallback midi) {
            if (gate_.valid()) {
                gate_.wait();
            }
            render_ = std::move(render);
            midi_ = std::move(midi);
            // As PulseAudio does: the change steps back over up to `rewriteBack_` frames handed over and
            // not yet heard, which are then rendered again.
            return std::make_unique<DrivenOutput>([this](const audio::AudioOutput::Change& change) {
                if (rewriteBack_ == 0) {
                    return false;
                }
                steppedBack_ = change(rewriteBack_);
                std::vector<float> again(steppedBack_ * kMixChannels);
                if (steppedBack_ > 0) {
                    render_(again.data(), steppedBack_);
                }
                return true;
            });
        };
        player_ = std::make_unique<DrumPlayer>(options);
    }

    // Sends `bytes` as one MIDI message, then renders a block; the level of its last frame.
    float Send(const std::vector<std::uint8_t>& bytes) {
        midi_(bytes.data(), bytes.size());
        return Render();
    }
    float Render() {
        std::vector<float> block(256 * kMixChannels);
        render_(block.data(), 256);
        return block[block.size() - 2];
    }

    std::unique_ptr<DrumPlayer> player_;
    std::size_t rewriteBack_ = 0, steppedBack_ = 0;
    std::shared_future<void> gate_;
    audio::RenderCallback render_;
    audio::MidiCallback midi_;
};

std::shared_ptr<LoadedKit> TestKit() {
    return ConstantKit({{"Kick", 36, {{0.1f}, {0.2f}, {0.3f}}},
                        {"Snare", 38, {{0.01f, 0.02f, 0.03f}}},
                        {"Closed HH", 42, {{0.004f}}},
                        {"Open HH", 46, {{0.005f}}},
                        {"Hi-Hat Semiopen", 60, {{0.006f}}},
                        {"Pedal HH", 44, {{0.007f}}},
                        {"Crash", 49, {{0.0008f}}},
                        {"Shaker A", 70, {{0.05f}}},
                        {"Shaker B", 71, {{0.06f}}}});
}

struct MidiRow {
    const char* name;
    std::vector<std::vector<std::uint8_t>> messages;
    float level;  // after the last one
};

class MidiKitRows : public MidiKitTest, public testing::WithParamInterface<MidiRow> {};

TEST_P(MidiKitRows, SoundAsAKitDoes) {
    auto kit = TestKit();
    kit->kit.instruments[7].muteGroup = kit->kit.instruments[8].muteGroup = 1;
    player_->UseKit(kit);
    float level = Render();
    for (const auto& message : GetParam().messages) {
        level = Send(message);
    }
    EXPECT_NEAR(level, GetParam().level, 1e-6f);
}

constexpr float Soft(float value, std::uint8_t velocity) {
    return value * kit::VelocityGain(velocity);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MidiKitRows,
    testing::Values(
        MidiRow{"SoftHitPlaysTheSoftLayer", {{0x99, 36, 20}}, Soft(0.1f, 20)},
        MidiRow{"MiddleHitPlaysTheMiddleLayer", {{0x99, 36, 64}}, Soft(0.2f, 64)},
        MidiRow{"HardHitPlaysTheHardLayer", {{0x99, 36, 127}}, 0.3f},
        MidiRow{"RunningStatusPlaysBothNotes", {{0x99, 36, 127, 38, 127}}, 0.31f},
        MidiRow{"RunningStatusAcrossMessages", {{0x99, 36, 127}, {38, 127}}, 0.31f},
        MidiRow{"RealTimeByteInsideAMessage", {{0x99, 0xF8, 36, 127}}, 0.3f},
        MidiRow{"NoteOffIsIgnored", {{0x99, 36, 127}, {0x89, 36, 0}}, 0.3f},
        MidiRow{"SamplesOfARangeInTurn", {{0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}}, 0.06f},
        MidiRow{"FourVoicesRingTogether",
                {{0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}},
                0.07f},
        MidiRow{"TheFifthTakesTheOldest",
                {{0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}, {0x99, 38, 127}},
                0.08f},
        MidiRow{"ClosedHatChokesTheOpenOne", {{0x99, 46, 127}, {0x99, 42, 127}}, 0.004f},
        MidiRow{"PedalHatChokesTheOpenOne", {{0x99, 46, 127}, {0x99, 44, 127}}, 0.007f},
        MidiRow{"MuteGroupCutsItsOther", {{0x99, 70, 127}, {0x99, 71, 127}}, 0.06f},
        MidiRow{"PedalUpPlaysTheOpenHat", {{0xB0, 4, 0}, {0x99, 42, 127}}, 0.005f},
        MidiRow{"PedalHalfwayPlaysTheHalfOpenHat", {{0xB0, 4, 60}, {0x99, 42, 127}}, 0.006f},
        MidiRow{"PedalDownPlaysTheClosedHat", {{0xB0, 4, 127}, {0x99, 46, 127}}, 0.004f},
        MidiRow{"PedalClosingChokesTheOpenHat", {{0xB0, 4, 0}, {0x99, 46, 127}, {0xB0, 4, 127}}, 0.0f},
        MidiRow{"GrabbedCymbalIsChoked", {{0x99, 49, 127}, {0xA9, 49, 40}}, 0.0f},
        MidiRow{"PressureOnAnotherNoteLeavesIt", {{0x99, 49, 127}, {0xA9, 38, 40}}, 0.0008f}),
    [](const testing::TestParamInfo<MidiRow>& row) { return std::string(row.param.name); });

// A kit given before the output opens, while it opens, or once it renders is the kit MIDI plays.
enum class KitGiven { kBeforeTheOutput, kWhileItOpens, kOnceItRenders };

class KitOrderTest : public MidiKitTest, public testing::WithParamInterface<KitGiven> {
  protected:
    void SetUp() override {}
};

TEST_P(KitOrderTest, IsTheKitPlayed) {
    auto kit = ConstantKit({{"Kick", 36, {{0.25f}}}});
    MakePlayer();
    std::promise<void> open;
    switch (GetParam()) {
        case KitGiven::kBeforeTheOutput:
            player_->UseKit(kit);
            Open();
            break;
        case KitGiven::kWhileItOpens:
            Open(open.get_future().share(), [&] {
                player_->UseKit(kit);
                open.set_value();
            });
            break;
        case KitGiven::kOnceItRenders:
            Open();
            Render();
            player_->UseKit(kit);
            break;
    }
    Render();
    EXPECT_NEAR(Send({0x99, 36, 127}), 0.25f, 1e-6f);
}

std::string OrderName(const testing::TestParamInfo<KitGiven>& row) {
    switch (row.param) {
        case KitGiven::kBeforeTheOutput:
            return "BeforeTheOutput";
        case KitGiven::kWhileItOpens:
            return "WhileItOpens";
        case KitGiven::kOnceItRenders:
            return "OnceItRenders";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(Orders, KitOrderTest,
                         testing::Values(KitGiven::kBeforeTheOutput, KitGiven::kWhileItOpens,
                                         KitGiven::kOnceItRenders),
                         OrderName);

// A roll within one block tells the window once: one write to its eventfd for the block, not one per
// note, since each is a system call on the render thread. Every note's row is still there to take.
// A key hit reaching back over frames already handed over reaches no further than the kit has been
// quiet: not at all while a kit drum sounds, and not into the end of one that has just stopped.
TEST_F(MidiKitTest, AKeyHitReachesBackNoFurtherThanTheKitsLastSound) {
    rewriteBack_ = 4096;
    player_->UseKit(ConstantKit({{"Kick", 36, {{0.3f}}}}));
    Render();
    Send({0x99, 36, 127});
    ASSERT_TRUE(player_->Play("/nonexistent/key.wav", 0));  // the default sound, over the kick
    EXPECT_EQ(steppedBack_, 0u);
    for (int block = 0; block < 400 && Render() != 0.0f; ++block) {
    }
    Render();  // the kick ended within the block before: 256 to 511 frames of quiet since
    ASSERT_TRUE(player_->Play("/nonexistent/key.wav", 0));
    EXPECT_GT(steppedBack_, 0u);
    EXPECT_LE(steppedBack_, 256u);
}

TEST_F(MidiKitTest, ARollInOneBlockWakesTheWindowOnce) {
    player_->UseKit(TestKit());
    Render();
    for (int i = 0; i < 8; ++i) {
        midi_(std::array<std::uint8_t, 3>{0x99, 36, 100}.data(), 3);
    }
    Render();
    std::uint64_t wakes = 0;
    ASSERT_EQ(read(player_->MidiEventsFd(), &wakes, sizeof wakes), static_cast<ssize_t>(sizeof wakes));
    EXPECT_EQ(wakes, 1u);
    int rows = 0;
    for (MidiEvent event; player_->TakeMidiEvent(event);) {
        rows += event.kind == MidiEvent::Kind::kRowHit;
    }
    EXPECT_EQ(rows, 8);
}

TEST_F(MidiKitTest, AtMostSixtyFourVoicesSoundTogether) {
    std::vector<std::tuple<std::string, int, std::vector<std::vector<float>>>> drums;
    for (int i = 0; i < 70; ++i) {
        drums.push_back({"Perc " + std::to_string(i), 20 + i, {{0.001f}}});
    }
    player_->UseKit(ConstantKit(drums));
    float level = Render();
    for (int i = 0; i < 70; ++i) {
        level = Send({0x99, static_cast<std::uint8_t>(20 + i), 127});
    }
    EXPECT_NEAR(level, 64 * 0.001f, 1e-5f);
}

// A kit switched while the one before rings: the old one fades out and is let go of, the new one
// plays from the next hit, and the window hears of rows hit and programs chosen.
TEST_F(MidiKitTest, ANewKitTakesOverBetweenBlocksAndTheOldOneIsLetGo) {
    auto first = TestKit();
    std::weak_ptr<LoadedKit> old = first;
    player_->UseKit(std::move(first));
    Render();
    EXPECT_NEAR(Send({0x99, 36, 127}), 0.3f, 1e-6f);
    player_->UseKit(ConstantKit({{"Kick", 36, {{0.25f}}}}));
    EXPECT_NEAR(Render(), 0.0f, 1e-6f) << "the old kick faded within the block";
    EXPECT_NEAR(Send({0x99, 36, 127, 0xC9, 4}), 0.25f, 1e-6f);
    player_->Prepare();
    EXPECT_TRUE(old.expired());
    std::vector<MidiEvent> events;
    for (MidiEvent event; player_->TakeMidiEvent(event);) {
        events.push_back(event);
    }
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].kind, MidiEvent::Kind::kProgram);
    EXPECT_EQ(events[2].value, 4);
    EXPECT_EQ(events[1].kind, MidiEvent::Kind::kRowHit);
    EXPECT_EQ(events[1].value, 0);
}

}  // namespace
}  // namespace zorvik::platform::samples
