#include "AlsaSeqInput.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zorvik::platform::midi {

std::size_t ToMidiMessage(const snd_seq_event_t& event, std::uint8_t (&message)[3]) {
    auto channel = [](unsigned char c) { return static_cast<std::uint8_t>(c & 0x0F); };
    switch (event.type) {
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_NOTE:  // a note with its length: its start is the hit
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_KEYPRESS: {
            const std::uint8_t status = event.type == SND_SEQ_EVENT_NOTEOFF    ? 0x80
                                        : event.type == SND_SEQ_EVENT_KEYPRESS ? 0xA0
                                                                               : 0x90;
            message[0] = static_cast<std::uint8_t>(status | channel(event.data.note.channel));
            message[1] = static_cast<std::uint8_t>(event.data.note.note & 0x7F);
            message[2] = static_cast<std::uint8_t>(event.data.note.velocity & 0x7F);
            return 3;
        }
        case SND_SEQ_EVENT_CONTROLLER:
            message[0] = static_cast<std::uint8_t>(0xB0 | channel(event.data.control.channel));
            message[1] = static_cast<std::uint8_t>(event.data.control.param & 0x7F);
            message[2] = static_cast<std::uint8_t>(event.data.control.value & 0x7F);
            return 3;
        case SND_SEQ_EVENT_PGMCHANGE:
            message[0] = static_cast<std::uint8_t>(0xC0 | channel(event.data.control.channel));
            message[1] = static_cast<std::uint8_t>(event.data.control.value & 0x7F);
            return 2;
        default:
            return 0;
    }
}

std::unique_ptr<AlsaSeqInput> AlsaSeqInput::Open(const std::string& clientName, MidiCallback onMessage) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
        return nullptr;
    }
    snd_seq_set_client_name(seq, clientName.c_str());
    const int port =
        snd_seq_create_simple_port(seq, "Drums MIDI in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    const int stopFd = eventfd(0, EFD_CLOEXEC);
    if (port < 0 || stopFd < 0) {
        if (stopFd >= 0) {
            close(stopFd);
        }
        snd_seq_close(seq);
        return nullptr;
    }
    std::unique_ptr<AlsaSeqInput> input(new AlsaSeqInput(seq, port, stopFd, std::move(onMessage)));
    // The system's announcements tell of sources plugged in later.
    snd_seq_connect_from(seq, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* info = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&info);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        snd_seq_port_info_set_client(info, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(seq, info) >= 0) {
            input->TakeIfHardware(snd_seq_port_info_get_client(info), snd_seq_port_info_get_port(info));
        }
    }
    input->thread_ = std::thread([raw = input.get()] { raw->Run(); });
    return input;
}

AlsaSeqInput::AlsaSeqInput(snd_seq_t* seq, int port, int stopFd, MidiCallback onMessage)
    : seq_(seq), port_(port), stopFd_(stopFd), onMessage_(std::move(onMessage)) {}

AlsaSeqInput::~AlsaSeqInput() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        (void)!write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    close(stopFd_);
    snd_seq_close(seq_);
}

void AlsaSeqInput::TakeIfHardware(int client, int port) {
    if (client == snd_seq_client_id(seq_) || client == SND_SEQ_CLIENT_SYSTEM) {
        return;
    }
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (snd_seq_get_any_port_info(seq_, client, port, info) < 0) {
        return;
    }
    const unsigned int sends = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    if ((snd_seq_port_info_get_capability(info) & sends) == sends &&
        (snd_seq_port_info_get_type(info) & SND_SEQ_PORT_TYPE_HARDWARE) != 0) {
        snd_seq_connect_from(seq_, port_, client, port);
    }
}

void AlsaSeqInput::Run() {
    const int count = snd_seq_poll_descriptors_count(seq_, POLLIN);
    std::vector<pollfd> fds(static_cast<std::size_t>(count) + 1);
    snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned int>(count), POLLIN);
    fds[static_cast<std::size_t>(count)] = pollfd{stopFd_, POLLIN, 0};
    while (true) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[static_cast<std::size_t>(count)].revents != 0) {
            return;
        }
        snd_seq_event_t* event = nullptr;
        while (snd_seq_event_input(seq_, &event) >= 0 && event != nullptr) {
            if (event->type == SND_SEQ_EVENT_PORT_START) {
                TakeIfHardware(event->data.addr.client, event->data.addr.port);
                continue;
            }
            std::uint8_t message[3];
            if (const std::size_t size = ToMidiMessage(*event, message); size > 0) {
                onMessage_(message, size);
            }
        }
    }
}

}  // namespace zorvik::platform::midi
