// The audio outputs where there is nothing to play to: a missing server is refused at once, and one
// that takes the connection but never answers is given up after the deadline, so opening never hangs
// the program. ALSA direct plays into ALSA's file plugin (no sound card needed), checked frame by
// frame. Playing to real servers is checked end to end (tests/e2e/drums.sh).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "AlsaOutput.h"
#include "AlsaSeqInput.h"
#include "MidiChunk.h"
#include "MidiPorts.h"
#include "OutputTiming.h"
#include "PipeWireOutput.h"
#include "PulseOutput.h"
#include "SdlOutput.h"
#include "TestMedia.h"

namespace {

using namespace zorvik::platform::audio;
using zorvik::platform::midi::ToMidiMessage;
using Clock = std::chrono::steady_clock;

constexpr auto kDeadline = std::chrono::seconds(10);

class TempDirTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("zorvik-audio-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

// A sound server's client library, pointed at a socket of the test's choosing through its variable.
struct ServerRow {
    const char* name;
    const char* variable;
    const char* prefix;  // put before the socket's path in the variable
    std::function<bool(std::chrono::milliseconds timeout)> open;
};

void PrintTo(const ServerRow& row, std::ostream* os) {
    *os << row.name;
}

class ServerOutputTest : public TempDirTest, public testing::WithParamInterface<ServerRow> {
  protected:
    void TearDown() override {
        ::unsetenv(GetParam().variable);
        TempDirTest::TearDown();
    }

    void PointAt(const std::filesystem::path& socket) {
        ::setenv(GetParam().variable, (GetParam().prefix + socket.string()).c_str(), 1);
    }

    // Opens with `timeout`; returns how long the opening took, and whether it gave an output.
    std::pair<Clock::duration, bool> OpenWith(std::chrono::milliseconds timeout) {
        const auto start = Clock::now();
        const bool opened = GetParam().open(timeout);
        return {Clock::now() - start, opened};
    }
};

// Whether a cycle was missed, from the graph's clock at two cycles of the drums' 64 frames at 48 kHz.
TEST(MissedCycleTest, IsMeasuredInTheGraphsOwnTime) {
    constexpr std::int64_t kCycleNs = 1'333'333;  // 64 frames at 48 kHz
    struct Row {
        const char* name;
        std::uint32_t graphRate;
        std::uint64_t ticksMoved;
        std::int64_t nsMoved;
        bool missed;
        std::uint32_t newRate = 0;  // a new driver at another rate
    };
    const Row rows[] = {
        {"48 kHz graph, the next cycle", 48000, 64, kCycleNs, false},
        {"48 kHz graph, a cycle missed", 48000, 128, 2 * kCycleNs, true},
        {"96 kHz graph, the next cycle", 96000, 128, kCycleNs, false},
        {"192 kHz graph, the next cycle", 192000, 256, kCycleNs, false},
        {"96 kHz graph, a cycle missed", 96000, 256, 2 * kCycleNs, true},
        {"a stall of 1.5 s", 48000, 72000, 1'500'000'000, true},
        {"a new driver, its clock far ahead", 48000, 48000 * 3600, kCycleNs, false},
        {"a new driver, its clock behind", 48000, 0, kCycleNs, false},
        {"a new driver at another rate", 48000, 64, kCycleNs, false, 44100},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const GraphClock before{1'000'000'000, 1, row.graphRate, 5'000'000'000};
        const GraphClock now{before.ticks + row.ticksMoved, 1, row.newRate ? row.newRate : row.graphRate,
                             before.nowNs + row.nsMoved};
        EXPECT_EQ(MissedCycle(before, now, 64, 48000), row.missed);
    }
}

// A MIDI buffer as any client in the session may fill it: only what lies inside the buffer, its chunk and
// the pod is read. The sequence has a note, a system-exclusive message (skipped) and two more notes.
TEST(MidiChunkTest, ReadsOnlyWhatLiesInsideTheBuffer) {
    const std::vector<std::uint8_t> good = zorvik::testmedia::MidiSequence(
        {{0, {0x99, 36, 100}}, {5, {0xF0, 1, 2, 3, 0xF7}}, {10, {0x99, 38, 90}}, {20, {0xC9, 4}}});
    auto poke = [](std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
        return bytes;
    };
    const auto size = static_cast<std::uint32_t>(good.size());
    struct Row {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::uint32_t offset, size;
        bool valid;
        std::vector<std::uint32_t> offsets;  // of the messages taken
    };
    const Row rows[] = {
        {"a sequence that fits", good, 0, size, true, {0, 10, 20}},
        {"the pod claims more than the chunk holds", poke(good, 0, 1 << 20), 0, size, false, {}},
        {"the chunk reaches past the buffer", good, 8, size, false, {}},
        {"a chunk not on a pod's alignment", good, 4, size - 8, false, {}},
        {"not a sequence", poke(good, 4, 0), 0, size, false, {}},
        {"a control claims more than the pod holds", poke(good, 24, 1 << 20), 0, size, true, {}},
        {"an empty chunk", good, 0, 0, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> buffer = row.bytes;
        std::vector<std::uint32_t> offsets;
        const bool valid = ForEachMidiMessage(
            buffer.data(), static_cast<std::uint32_t>(buffer.size()), row.offset, row.size,
            [&](std::uint32_t offset, const std::uint8_t*, std::uint32_t) { offsets.push_back(offset); });
        EXPECT_EQ(valid, row.valid);
        EXPECT_EQ(offsets, row.offsets);
    }
}

// A kit's MIDI port seen by the registry, unplugged and plugged in again under the id PipeWire reuses:
// each time it is linked again, its old link let go, and nothing is kept of the ports that are gone.
TEST(MidiPortsTest, AKitPluggedInAgainIsLinkedAgain) {
    MidiPorts<int> ports;
    int made = 0, released = 0;
    const auto link = [&](std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return ++made; };
    ports.AddInput(30, 7);
    ports.AddSource(40, 9, 100);
    ports.LinkTo(7, link);
    ports.LinkTo(7, link);
    EXPECT_EQ(made, 1) << "a source is linked once";
    for (int replug = 1; replug <= 10; ++replug) {
        ports.Remove(40, [&](int) { ++released; });
        ports.AddSource(40, 9, 100 + static_cast<std::uint64_t>(replug));
        ports.LinkTo(7, link);
    }
    EXPECT_EQ(made, 11);
    EXPECT_EQ(released, 10);
    EXPECT_EQ(ports.Sources().size(), 1u);
    ports.AddSource(41, 12, 200);
    ports.LinkTo(8, link);
    EXPECT_EQ(made, 11) << "no link to a node whose input port is not known";
    ports.Remove(30, [&](int) { ++released; });
    ports.LinkTo(7, link);
    EXPECT_EQ(made, 11) << "no link to an input port that is gone";
}

// Where a MIDI message falls in the drums' cycle of 48 kHz frames, from the graph's clock.
TEST(MidiOffsetTest, IsInTheStreamsFramesWhateverTheGraphsRate) {
    struct Row {
        const char* name;
        std::uint64_t ahead;  // graph frames after the cycle's start
        std::uint32_t graphRate;
        std::uint64_t offset;
    };
    for (const Row& row :
         {Row{"48 kHz graph", 100, 48000, 100}, Row{"96 kHz graph", 200, 96000, 100},
          Row{"192 kHz graph", 400, 192000, 100}, Row{"44.1 kHz graph", 441, 44100, 480},
          Row{"at the cycle's start", 0, 96000, 0}, Row{"a second ahead", 96000, 96000, 0}}) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(MidiOffset(1'000'000 + row.ahead, 1'000'000, row.graphRate, 48000, 0.05), row.offset);
    }
    EXPECT_EQ(MidiOffset(999'000, 1'000'000, 48000, 48000, 0.05), 0u) << "a late message is due at once";
}

// The period after a run of cycles: misses double it once the last request is granted, calm halves it.
TEST(PeriodKeeperTest, GrowsOnMissesAndComesBackAfterACalmSpell) {
    struct Cycle {
        std::int64_t ms;
        int granted;
        bool missed;
    };
    struct Row {
        const char* name;
        std::vector<Cycle> cycles;
        int period;
    };
    const Row rows[] = {
        {"no miss", {{0, 64, false}, {10'000, 64, false}}, 64},
        {"one miss", {{0, 64, false}, {1, 64, true}}, 128},
        {"a burst of misses before the request is granted",
         {{0, 64, false}, {1, 64, true}, {2, 64, true}},
         128},
        {"misses right after it is granted: a stalled server catching up",
         {{0, 64, false}, {1, 64, true}, {2, 128, true}, {3, 128, true}},
         128},
        {"misses on after it is granted", {{0, 64, false}, {1, 64, true}, {300, 128, true}}, 256},
        {"one stall, then 4 s of calm",
         {{0, 64, false}, {1, 64, true}, {2000, 128, false}, {4001, 128, false}},
         64},
        {"one stall, then 3 s of calm", {{0, 64, false}, {1, 64, true}, {3001, 128, false}}, 128},
        {"never past the longest",
         {{0, 64, false},
          {1, 64, true},
          {300, 128, true},
          {600, 256, true},
          {900, 512, true},
          {1200, 1024, true}},
         1024},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PeriodKeeper keeper(64, 1024, std::int64_t{4'000'000'000});
        for (const Cycle& cycle : row.cycles) {
            keeper.Cycle(cycle.ms * 1'000'000, cycle.granted, cycle.missed);
        }
        EXPECT_EQ(keeper.Period(), row.period);
    }
}

TEST_P(ServerOutputTest, NoServerIsRefusedWithoutWaitingForTheDeadline) {
    PointAt(dir_ / "nobody-here");
    const auto [took, opened] = OpenWith(std::chrono::seconds(30));
    EXPECT_FALSE(opened);
    EXPECT_LT(took, std::chrono::seconds(10)) << "a refused connection must not wait for the deadline";
}

TEST_P(ServerOutputTest, ASilentServerIsGivenUpAtTheDeadline) {
    // A socket that accepts connections into its backlog and never says a word.
    const std::filesystem::path path = dir_ / "silent";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.string().size(), sizeof(address.sun_path));
    path.string().copy(address.sun_path, path.string().size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    PointAt(path);

    const auto [took, opened] = OpenWith(std::chrono::milliseconds(300));
    ::close(listener);
    EXPECT_FALSE(opened);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(10)) << "the deadline must end the wait";
}

std::string RowName(const testing::TestParamInfo<ServerRow>& row) {
    return row.param.name;
}

const auto kSilence = [](float*, std::size_t) {};

OpenOptions Named(std::chrono::milliseconds timeout) {
    OpenOptions options;
    options.appName = "Zorvik test";
    options.connectTimeout = timeout;
    return options;
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerOutputTest,
                         testing::Values(ServerRow{"pulse", "PULSE_SERVER", "unix:",
                                                   [](std::chrono::milliseconds timeout) {
                                                       return PulseOutput::Open({}, kSilence,
                                                                                Named(timeout)) != nullptr;
                                                   }},
                                         ServerRow{"pipewire", "PIPEWIRE_REMOTE", "",
                                                   [](std::chrono::milliseconds timeout) {
                                                       return PipeWireOutput::Open({}, kSilence,
                                                                                   Named(timeout)) != nullptr;
                                                   }}),
                         RowName);

using AlsaOutputTest = TempDirTest;

OpenOptions OnDevice(std::string device) {
    OpenOptions options;
    options.alsaDevice = std::move(device);
    return options;
}

// The file plugin writes what the device would play; its slave, the null device, takes it at once, so
// the thread renders far faster than real time and the test stops it as soon as enough is there.
TEST_F(AlsaOutputTest, PlaysTheRenderedFramesInOrder) {
    const std::filesystem::path raw = dir_ / "out.raw";
    // Each sample tells its frame and channel apart, so a lost, doubled or swapped frame shows.
    std::uint32_t next = 0;
    auto output = AlsaOutput::Open(
        {},
        [&next](float* out, std::size_t frames) {
            for (std::size_t f = 0; f < frames; ++f, ++next) {
                out[2 * f] = static_cast<float>(next % 4096) / 4096.0f;
                out[2 * f + 1] = -out[2 * f];
            }
        },
        OnDevice("file:FILE=" + raw.string() + ",FORMAT=raw"));
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(output->Alive());
    constexpr std::size_t kFrames = 10 * AlsaOutput::kPeriodFrames;
    const auto deadline = Clock::now() + kDeadline;
    while ((!std::filesystem::exists(raw) || std::filesystem::file_size(raw) < kFrames * 8) &&
           Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    output.reset();

    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), kFrames * 8);
    for (std::size_t f = 0; f < kFrames; ++f) {
        float frame[2];
        std::memcpy(frame, bytes.data() + f * sizeof(frame), sizeof(frame));
        ASSERT_EQ(frame[0], static_cast<float>(f % 4096) / 4096.0f) << "frame " << f;
        ASSERT_EQ(frame[1], -frame[0]) << "frame " << f;
    }
}

// A write that blocks inside a plugin: the file plugin writing into a FIFO nobody reads. The output is
// closed all the same, and once the write comes back the thread renders nothing more and closes the
// device by itself.
TEST_F(AlsaOutputTest, AWriteStuckInAPluginDoesNotHoldTheClose) {
    const std::filesystem::path fifo = dir_ / "device.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::atomic<std::size_t> renders{0};
    auto output = AlsaOutput::Open(
        {},
        [&renders](float* out, std::size_t frames) {
            std::fill_n(out, frames * 2, 0.25f);
            ++renders;
        },
        OnDevice("file:FILE=" + fifo.string() + ",FORMAT=raw"));
    ASSERT_NE(output, nullptr);
    const auto full = [reader] {
        int queued = 0;
        return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= ::fcntl(reader, F_GETPIPE_SZ);
    };
    for (const auto deadline = Clock::now() + kDeadline; !full() && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(full());

    std::future<void> close = std::async(std::launch::async, [&output] { output.reset(); });
    const bool closedAtOnce = close.wait_for(kDeadline) == std::future_status::ready;
    EXPECT_TRUE(closedAtOnce) << "closing waited for the write";
    const std::size_t rendered = renders.load();
    // Drained, the FIFO lets the write finish; its end of file says the thread has closed the device.
    char buffer[65536];
    ssize_t got = -1;
    for (const auto deadline = Clock::now() + kDeadline; got != 0 && Clock::now() < deadline;) {
        got = ::read(reader, buffer, sizeof buffer);
        if (got < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    close.wait();
    EXPECT_EQ(got, 0) << "the device was never closed";
    if (closedAtOnce) {
        EXPECT_EQ(renders.load(), rendered) << "rendered after the output was closed";
    }
    ::close(reader);
}

TEST_F(AlsaOutputTest, AMissingDeviceIsRefused) {
    EXPECT_EQ(AlsaOutput::Open({}, kSilence, OnDevice("hw:CARD=ZorvikNoSuchCard")), nullptr);
}

// After our own outputs, SDL keeps to the drivers they do not cover, unless the user names one.
TEST(SdlOutputTest, ADriverTheUserNamesIsKeptAfterOurOwnOutputs) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    OpenOptions options;
    options.kinds = {OutputKind::kPipeWire, OutputKind::kSdl};
    auto output = SdlOutput::Open({}, kSilence, options);
    ::unsetenv("SDL_AUDIODRIVER");
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(output->Alive());
}

// What the sequencer delivers from a kit reaches the drums as the MIDI message it was, on its channel;
// what drums take no notice of (the clock) does not reach them at all.
struct SequencerRow {
    const char* name;
    snd_seq_event_type_t type;
    std::vector<std::uint8_t> message;  // empty: none
};

class SequencerEventTest : public testing::TestWithParam<SequencerRow> {};

TEST_P(SequencerEventTest, BecomesItsMidiMessage) {
    snd_seq_event_t event{};
    event.type = GetParam().type;
    if (event.type == SND_SEQ_EVENT_CONTROLLER || event.type == SND_SEQ_EVENT_PGMCHANGE) {
        event.data.control.channel = 9;
        event.data.control.param = 4;
        event.data.control.value = event.type == SND_SEQ_EVENT_PGMCHANGE ? 2 : 90;
    } else {
        event.data.note.channel = 9;
        event.data.note.note = 42;
        event.data.note.velocity = GetParam().message.size() < 3 ? 0 : GetParam().message[2];
    }
    std::uint8_t message[3]{};
    const std::size_t size = ToMidiMessage(event, message);
    EXPECT_EQ(std::vector<std::uint8_t>(message, message + size), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Events, SequencerEventTest,
    testing::Values(SequencerRow{"NoteOn", SND_SEQ_EVENT_NOTEON, {0x99, 42, 100}},
                    SequencerRow{"NoteOnAtVelocityZero", SND_SEQ_EVENT_NOTEON, {0x99, 42, 0}},
                    SequencerRow{"NoteOff", SND_SEQ_EVENT_NOTEOFF, {0x89, 42, 64}},
                    SequencerRow{"NoteWithALength", SND_SEQ_EVENT_NOTE, {0x99, 42, 100}},
                    SequencerRow{"KeyPressureOfAGrabbedCymbal", SND_SEQ_EVENT_KEYPRESS, {0xA9, 42, 30}},
                    SequencerRow{"HiHatPedalController", SND_SEQ_EVENT_CONTROLLER, {0xB9, 4, 90}},
                    SequencerRow{"ProgramChange", SND_SEQ_EVENT_PGMCHANGE, {0xC9, 2}},
                    SequencerRow{"Clock", SND_SEQ_EVENT_CLOCK, {}}),
    [](const testing::TestParamInfo<SequencerRow>& row) { return std::string(row.param.name); });

}  // namespace
