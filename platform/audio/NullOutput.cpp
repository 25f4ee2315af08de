#include "NullOutput.h"

#include <algorithm>

namespace zorvik::platform::audio {

NullOutput::NullOutput(const OutputFormat& format, RenderCallback render, const Options& options)
    : m_format(format),
      m_render(std::move(render)),
      m_options(options),
      m_kept(options.keepFrames * static_cast<std::size_t>(format.channels)),
      m_block(options.blockFrames * static_cast<std::size_t>(format.channels)) {
    m_thread = std::thread(&NullOutput::Run, this);
}

NullOutput::~NullOutput() {
    m_stop = true;
    m_thread.join();
}

std::chrono::microseconds NullOutput::Latency() const {
    return std::chrono::microseconds(static_cast<long long>(m_options.blockFrames) * 1'000'000 /
                                     m_format.rate);
}

void NullOutput::Run() {
    const auto channels = static_cast<std::size_t>(m_format.channels);
    auto next = std::chrono::steady_clock::now();
    while (!m_stop.load(std::memory_order_relaxed)) {
        m_render(m_block.data(), m_options.blockFrames);
        const std::size_t done = m_rendered.load(std::memory_order_relaxed);
        if (done < m_options.keepFrames) {
            const std::size_t n = std::min(m_options.blockFrames, m_options.keepFrames - done);
            std::copy_n(m_block.begin(), n * channels,
                        m_kept.begin() + static_cast<std::ptrdiff_t>(done * channels));
        }
        m_rendered.store(done + m_options.blockFrames, std::memory_order_release);
        if (m_options.period.count() > 0) {
            next += m_options.period;
            std::this_thread::sleep_until(next);
        } else {
            std::this_thread::yield();
        }
    }
}

std::vector<float> NullOutput::Kept() const {
    const std::size_t frames = std::min(Rendered(), m_options.keepFrames);
    const auto channels = static_cast<std::size_t>(m_format.channels);
    return std::vector<float>(m_kept.begin(),
                              m_kept.begin() + static_cast<std::ptrdiff_t>(frames * channels));
}

}  // namespace zorvik::platform::audio
