#pragma once
// The MIDI ports a PipeWire registry shows, for linking every hardware source to the drums' input: the
// inputs by node, the sources with the link made to each. PipeWire reuses a removed object's id, so a port
// is told apart by its serial, which is never reused, and a removed port is forgotten (its link let go),
// so a kit unplugged and plugged in again is linked again and nothing grows with each replug. Loop thread
// only; no PipeWire calls here, so the rules are tested without a daemon.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace zorvik::platform::audio {

template <typename Link>
class MidiPorts {
  public:
    struct Source {
        std::uint32_t id, node;
        std::uint64_t serial;
        Link link{};  // empty until linked
    };

    void AddInput(std::uint32_t id, std::uint32_t node) { inputs_.push_back({id, node}); }
    void AddSource(std::uint32_t id, std::uint32_t node, std::uint64_t serial) {
        const bool known = std::any_of(sources_.begin(), sources_.end(),
                                       [serial](const Source& source) { return source.serial == serial; });
        if (!known) {
            sources_.push_back({id, node, serial});
        }
    }
    // A port gone from the registry: `release` gets the link made to it, if any.
    template <typename Release>
    void Remove(std::uint32_t id, Release&& release) {
        std::erase_if(inputs_, [id](const Input& input) { return input.id == id; });
        std::erase_if(sources_, [&](const Source& source) {
            if (source.id != id) {
                return false;
            }
            if (source.link) {
                release(source.link);
            }
            return true;
        });
    }
    // Links each source not yet linked to the input port of `node`, once that port is known:
    // link(sourceNode, sourcePort, node, inputPort) makes the link and returns it, or an empty one.
    template <typename Make>
    void LinkTo(std::uint32_t node, Make&& link) {
        const auto input =
            std::find_if(inputs_.begin(), inputs_.end(), [node](const Input& in) { return in.node == node; });
        if (input == inputs_.end()) {
            return;
        }
        for (Source& source : sources_) {
            if (!source.link) {
                source.link = link(source.node, source.id, node, input->id);
            }
        }
    }
    const std::vector<Source>& Sources() const { return sources_; }

  private:
    struct Input {
        std::uint32_t id, node;
    };
    std::vector<Input> inputs_;
    std::vector<Source> sources_;
};

}  // namespace zorvik::platform::audio
