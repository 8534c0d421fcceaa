// The receiver's framing and next_dxp_message in process: arbitrary bytes in arbitrary chunks,
// messages taken at arbitrary moments, against a plain model of the stream.
// Input: steps. A byte below 0xE0 delivers the next 1 + (byte * 7) % 299 input bytes (cut to
// the ring's room, as the receiver thread does); 0xE0-0xEF takes 1 to 16 messages; 0xF0-0xFF
// takes every complete one.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {

int code_of(const std::string& text) {
    const char* at = text.empty() ? nullptr : std::strchr("RAMECBK", text[0]);
    return at ? int(at - "RAMECBK") + 1 : 0;
}

// What the connection must do, worked out without a ring.
struct Model {
    std::deque<std::pair<std::string, bool>> complete; // stored, not taken; too long
    std::string partial, events;
    bool stopped = false, closed = false;
    void close() {
        if (!closed) events += 'L';
        closed = true;
    }
    void receive(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size && !stopped; ++i) {
            if (data[i] && (partial += char(data[i])).size() < size_t(dxp_text_size)) continue;
            const bool too_long = data[i] != 0; // stored either way; a bad letter closes
            complete.push_back({partial, too_long});
            stopped = too_long || !code_of(partial);
            code_of(partial) ? void(events += char('0' + code_of(partial))) : close();
            partial.clear();
        }
    }
} model;

std::string posted() {
    std::string codes;
    for (int c; (c = wait_event(0)) != -1;) codes += c == DXP_CONNECTIONLOST ? 'L' : char('0' + c);
    return codes;
}

bool take_one() { // false when no message was complete
    char text[dxp_text_size];
    DxpMessage message, decoded;
    std::memset(&message, 0x5A, sizeof message);
    decoded = message;
    const bool refused = next_dxp_message(text, message);
    if (model.complete.empty()) return FUZZ_CHECK(!refused && !text[0] && !message.type), false;
    const auto [expected, too_long] = model.complete.front();
    model.complete.pop_front();
    FUZZ_CHECK(refused == too_long);
    if (too_long) return FUZZ_CHECK(text == expected.substr(0, 131)), model.close(), true;
    decode_dxp_message(expected.c_str(), decoded);
    FUZZ_CHECK(text == expected && !std::memcmp(&decoded, &message, sizeof message));
    return true;
}

ListenAddress* address = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops();
    create_event_queue(nullptr);
    FUZZ_CHECK(!net_start() && !net_lookup_passive("0", address));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A fresh unconnected socket stands for the client: closing it leaves nothing behind.
    if (dxp_connection_lost()) dxp_connection.client_socket.store(net_socket(address));
    reset_dxp_ring();
    posted();
    model = Model{};
    for (size_t at = 0; at < size;) {
        const uint8_t step = data[at++];
        if (step >= 0xE0) {
            for (int i = 0; i <= (step < 0xF0 ? step & 15 : 2000) && take_one(); ++i) {
            }
        } else if (!model.stopped) {
            const size_t room = size_t(dxp_ring_room());
            // A full ring always holds a whole message whose event is queued.
            if (room == 0) FUZZ_CHECK(take_one());
            const size_t want =
                std::min({1 + size_t(step) * 7 % dxp_receive_chunk, room, size - at});
            model.receive(data + at, want);
            FUZZ_CHECK(receive_bytes(reinterpret_cast<const char*>(data + at), int(want)) ==
                       model.stopped);
            at += want;
        }
        FUZZ_CHECK(posted() == model.events);
        model.events.clear();
    }
    while (take_one()) { // nothing lost, nothing left over
    }
    FUZZ_CHECK(posted() == model.events && model.complete.empty());
    FUZZ_CHECK(dxp_connection_lost() == model.closed);
    return 0;
}
