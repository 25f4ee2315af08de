#pragma once
// What an output decides from its server's clock: how long a period to ask for, whether a cycle was
// missed, where a MIDI message falls in a cycle. Pure functions of what they are told, so the rules are
// tested without a sound server; none locks or allocates, and all run on an output's own threads.

#include <cstdint>

namespace zorvik::platform::audio {

// How long an output's period (or buffer) should be: as short as the machine keeps up with, for the
// whole session. A miss grows it by a factor (twice, unless told), at most once per period asked for and
// granted, up to the longest; a calm spell shrinks it by the same factor again, down to the shortest, so
// that one stall (a daemon restarting, a burst of disk work) does not cost latency for the rest of the
// session.
class PeriodKeeper {
  public:
    PeriodKeeper(int shortest, int longest, std::int64_t calmNs, int growPercent = 200)
        : shortest_(shortest),
          longest_(longest),
          calmNs_(calmNs),
          growPercent_(growPercent),
          period_(shortest) {}

    // After a cycle at `nowNs` (monotonic) that was given `granted` frames, missed or not. The period to
    // ask for from now on: a changed value is a request to make.
    int Cycle(std::int64_t nowNs, int granted, bool missed);
    int Period() const { return period_; }

    // Misses closer together than this are one burst.
    static constexpr std::int64_t kBurstNs = 250'000'000;

  private:
    const int shortest_, longest_;
    const std::int64_t calmNs_;
    const int growPercent_;
    int period_;
    std::int64_t since_ = -1;  // the last miss or change, -1 before the first cycle
    std::int64_t grown_ = -1;  // the last growth, -1 before it first grows
};

// The graph's clock as a PipeWire stream reads it at a cycle: its position in ticks of `num/denom`
// seconds (the graph's own rate, which need not be the stream's), and the monotonic time then.
struct GraphClock {
    std::uint64_t ticks = 0;
    std::uint32_t num = 0, denom = 0;
    std::int64_t nowNs = 0;
};

// Whether a cycle went by without this node between two of its own: the graph's clock moved on by more
// than one and a half of the last cycle (`frames` at the stream's `rate`). In seconds, so a graph at
// 96 or 192 kHz is measured as one at 48 kHz. A clock that moved on further than the monotonic clock (a
// new driver when the default sink changes, a resume from suspend) or back is a new clock, not a miss.
bool MissedCycle(const GraphClock& before, const GraphClock& now, std::uint32_t frames, int rate);

// Where in a cycle of the drums' stream a MIDI message falls: `frame` and `cycleStart` are positions of
// the graph's clock (at `graphRate`), the answer is frames of the stream (at `streamRate`) from the
// cycle's start. A message already due, or further ahead than `maxLeadSeconds` (not on this clock), is
// due at once: 0.
std::uint64_t MidiOffset(std::uint64_t frame, std::uint64_t cycleStart, std::uint32_t graphRate,
                         int streamRate, double maxLeadSeconds);

}  // namespace zorvik::platform::audio
