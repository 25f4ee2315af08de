// The drums' own PulseAudio stream when there is no server to play to: a missing server is refused at
// once, and one that takes the connection but never answers is given up after the deadline, so a hit
// never hangs the program. Playing to a real server is checked end to end (tests/e2e/drums.sh).

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "PulseOutput.h"

namespace {

using zorvik::platform::sdl::PulseOutput;
using Clock = std::chrono::steady_clock;

class PulseOutputTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("zorvik-pulse-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        ::unsetenv("PULSE_SERVER");
        std::filesystem::remove_all(dir_);
    }

    // Opens with `timeout`; returns how long Open() took, and whether it gave a stream.
    std::pair<Clock::duration, bool> OpenWith(std::chrono::milliseconds timeout) {
        PulseOutput::Options options;
        options.connectTimeout = timeout;
        const auto start = Clock::now();
        const auto output = PulseOutput::Open(
            "Zorvik test", "Drums", 48000, [](float*, std::size_t) {}, options);
        return {Clock::now() - start, output != nullptr};
    }

    std::filesystem::path dir_;
};

TEST_F(PulseOutputTest, NoServerIsRefusedWithoutWaitingForTheDeadline) {
    ::setenv("PULSE_SERVER", ("unix:" + (dir_ / "nobody-here").string()).c_str(), 1);
    const auto [took, opened] = OpenWith(std::chrono::seconds(30));
    EXPECT_FALSE(opened);
    EXPECT_LT(took, std::chrono::seconds(10)) << "a refused connection must not wait for the deadline";
}

TEST_F(PulseOutputTest, ASilentServerIsGivenUpAtTheDeadline) {
    // A socket that accepts connections into its backlog and never says a word.
    const std::string path = (dir_ / "silent").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof(address.sun_path));
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);

    const auto [took, opened] = OpenWith(std::chrono::milliseconds(300));
    ::close(listener);
    EXPECT_FALSE(opened);
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::seconds(10)) << "the deadline must end the wait";
}

}  // namespace
