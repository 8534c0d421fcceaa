// The DXP wire text both ways, and what the decoder makes of short or malformed texts.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "dxp/dxp.h"

namespace {

DxpMessage cleared(int32_t type) {
    DxpMessage message;
    std::memset(&message, 0, sizeof message);
    message.type = type;
    return message;
}

// Encodes into a buffer with guard bytes after the promised 128, so writing past it shows.
std::string encode(const DxpMessage& message) {
    char buffer[dxp_send_size + 16];
    std::memset(buffer, 0x7E, sizeof buffer);
    encode_dxp_message(message, buffer);
    for (int i = dxp_send_size; i < int(sizeof buffer); ++i)
        EXPECT_EQ(buffer[i], 0x7E) << "wrote past the send buffer at " << i;
    EXPECT_NE(std::memchr(buffer, 0, dxp_send_size), nullptr);
    return buffer;
}

// Decodes into a poisoned record, so a field left unwritten shows.
DxpMessage decode(const std::string& text) {
    DxpMessage message;
    std::memset(&message, 0x5A, sizeof message);
    decode_dxp_message(text.c_str(), message);
    return message;
}

std::string name_field(const std::string& name) {
    return name + std::string(32 - name.size(), ' ');
}

const std::string position_z = "zzzzzzzzzzzzzzzzzzzzeeeeeeeeeewwwwwwwwwwwwwwwwwwwW";
const std::string robot = "R01" + name_field("Robot") + "W010050A";

} // namespace

TEST(Codec, WellFormedTextsOfEveryTypeComeBackByteForByte) {
    const std::string texts[] = {
        robot,
        "R02" + name_field("a b") + "Z123999BW" + position_z,
        "AKavro" + std::string(27, ' ') + "0",
        "A" + std::string(32, 'n') + "9",
        "M0007322800",
        "M0007322803270918",
        "E20",
        "E#x", // one-digit fields need not be digits: the character minus '0', and back
        "C" + std::string(126, 'c'),
        "Chello there ",
        "C",
        "B012Z",
        "K1",
    };
    for (const std::string& text : texts) {
        DxpMessage m = decode(text);
        EXPECT_EQ(m.type, int(std::string(" RAMECBK").find(text[0]))) << text;
        EXPECT_EQ(encode(m), text);
    }
}

TEST(Codec, DecodesTheFieldsOfEachType) {
    DxpMessage r = decode(robot);
    EXPECT_EQ(r.gamereq.version, 1);
    EXPECT_STREQ(r.gamereq.initiator_name, "Robot");
    EXPECT_EQ(r.gamereq.follower_colour, 'W');
    EXPECT_EQ(r.gamereq.thinking_time, 10);
    EXPECT_EQ(r.gamereq.move_count, 50);
    EXPECT_EQ(r.gamereq.start_position, 'A');
    // Any character but 'A' at 42 means a given position; 43 is the colour to move.
    DxpMessage g = decode("R01" + name_field(" x y ") + "W001001XZ" + position_z);
    EXPECT_STREQ(g.gamereq.initiator_name, " x y"); // only trailing spaces go
    EXPECT_EQ(g.gamereq.start_position, 'Z');
    EXPECT_EQ(std::string(g.gamereq.position, 50), position_z);

    DxpMessage m = decode("M000032230128");
    EXPECT_EQ(m.move.time, 0);
    EXPECT_EQ(m.move.from_square, 32);
    EXPECT_EQ(m.move.to_square, 23);
    EXPECT_EQ(m.move.capture_count, 1);
    EXPECT_EQ(m.move.captured[0], 28);
    EXPECT_EQ(m.move.captured[1], 0); // the record is cleared first

    EXPECT_EQ(decode("E20").gameend.reason, 2);
    EXPECT_EQ(decode("E20").gameend.stop_code, 0);
    EXPECT_EQ(decode("K1").backacc.acceptance, 1);
    EXPECT_EQ(decode("B012W").backreq.move_number, 12);
    EXPECT_EQ(decode("B012W").backreq.colour, 'W');
    EXPECT_EQ(decode("A" + name_field("Kavro") + "3").gameacc.acceptance, 3);
    EXPECT_EQ(std::string(decode("C" + std::string(131, 'e')).chat.text), std::string(126, 'e'));
}

TEST(Codec, EncodesTheLayoutsAndStaysInsideItsFields) {
    DxpMessage r = decode(robot);
    std::memcpy(r.gamereq.position, position_z.data(), 50);
    EXPECT_EQ(encode(r).size(), 43u);
    r.gamereq.start_position = 'Z';
    EXPECT_EQ(encode(r), robot.substr(0, 42) + "BZ" + position_z);

    DxpMessage a = cleared(DXP_GAMEACC);
    std::strcpy(a.gameacc.follower_name, "Kavro");
    EXPECT_EQ(encode(a), "A" + name_field("Kavro") + "0");
    std::memset(a.gameacc.follower_name, 'q', sizeof a.gameacc.follower_name); // unterminated
    EXPECT_EQ(encode(a), "A" + std::string(32, 'q') + "0");

    DxpMessage m = cleared(DXP_MOVE);
    m.move.from_square = 32;
    m.move.to_square = 28;
    EXPECT_EQ(encode(m), "M0000322800");
    m.move.capture_count = 3;
    m.move.captured[0] = 27, m.move.captured[1] = 9, m.move.captured[2] = 18;
    m.move.captured[3] = 44; // beyond the count: not sent
    EXPECT_EQ(encode(m), "M0000322803270918");
    m.move.capture_count = -2;
    EXPECT_EQ(encode(m).size(), 11u);
    // 59 captures would need 129 characters: the text carries the 58 that fit, and says so.
    m.move.capture_count = dxp_max_captured;
    for (int i = 0; i < dxp_max_captured; ++i) m.move.captured[i] = int16_t(i % 50 + 1);
    const std::string text = encode(m);
    EXPECT_EQ(text.size(), size_t(11 + 2 * dxp_max_sent_captures));
    EXPECT_EQ(decode(text).move.capture_count, dxp_max_sent_captures);

    DxpMessage c = cleared(DXP_CHAT);
    std::memset(c.chat.text, 'd', sizeof c.chat.text); // 127 characters, unterminated
    EXPECT_EQ(encode(c), "C" + std::string(126, 'd')); // 128 bytes with the zero

    DxpMessage b = cleared(DXP_BACKREQ);
    b.backreq.move_number = 12;
    b.backreq.colour = 'Z';
    EXPECT_EQ(encode(b), "B012Z");
    b.backreq.move_number = 1234;
    EXPECT_EQ(encode(b), "B999Z"); // clamped, not spilled into the colour
    b.backreq.move_number = -4;
    EXPECT_EQ(encode(b), "B000Z");
    DxpMessage e = cleared(DXP_GAMEEND);
    e.gameend.reason = 1;
    EXPECT_EQ(encode(e), "E10");
    EXPECT_EQ(encode(cleared(0)), "");
    EXPECT_EQ(encode(cleared(9)), "");
}

TEST(Codec, TrimTrailingSpaces) {
    const char* cases[][2] = {
        {"Robot   ", "Robot"}, {"  a  b", "  a  b"}, {"    ", ""}, {"", ""}, {"tab\t", "tab\t"}};
    for (auto& c : cases) {
        char text[16];
        std::strcpy(text, c[0]);
        trim_trailing_spaces(text);
        EXPECT_STREQ(text, c[1]) << '"' << c[0] << '"';
    }
}

// Short and malformed texts: clipped, never read past nor written past.

TEST(Malformed, UnknownFirstCharacterLeavesTheRecordAlone) {
    DxpMessage before;
    std::memset(&before, 0x5A, sizeof before);
    for (const char* text : {"D123", "", "r01", "\x80xyz"}) {
        DxpMessage m = before;
        decode_dxp_message(text, m);
        EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0) << text;
    }
}

TEST(Malformed, NumberFieldsTakeOnlyTheirLeadingDigits) {
    DxpMessage m = decode("M00x53a2803");
    EXPECT_EQ(m.move.time, 0);        // "00x5"
    EXPECT_EQ(m.move.from_square, 3); // "3a"
    EXPECT_EQ(m.move.to_square, 28);
    EXPECT_EQ(decode("Bxy7Z").backreq.move_number, 0);
    EXPECT_EQ(decode("K?").backacc.acceptance, 0);
    EXPECT_EQ(decode("A" + name_field("n") + "x").gameacc.acceptance, 0);
}

TEST(Malformed, MoveCountsOnlyTheSquaresReallyPresent) {
    // Claims three captures and carries two: the count becomes 2, so that the move cannot
    // match a legal capture of three on the strength of missing squares.
    DxpMessage m = decode("M00003223032827");
    EXPECT_EQ(m.move.capture_count, 2);
    EXPECT_EQ(m.move.captured[1], 27);
    EXPECT_EQ(m.move.captured[2], 0);
    EXPECT_EQ(decode("M00003223012812").move.capture_count, 1); // no more than claimed
    EXPECT_EQ(decode("M0000322302281").move.capture_count, 1);  // half a square is none
    EXPECT_EQ(decode("M00003223").move.capture_count, 0);
    EXPECT_EQ(decode("M0000322").move.to_square, 2);

    // 60 squares and a half, claimed 99: the record's room and nothing past it.
    std::string text = "M0000322399";
    while (text.size() < size_t(dxp_max_text)) text += "12";
    text.resize(dxp_max_text);
    struct Guarded {
        DxpMessage message;
        char guard[64];
    } g;
    std::memset(&g, 0x5A, sizeof g);
    decode_dxp_message(text.c_str(), g.message);
    EXPECT_EQ(g.message.move.capture_count, dxp_max_captured);
    EXPECT_EQ(g.message.move.captured[dxp_max_captured - 1], 12);
    for (char c : g.guard) ASSERT_EQ(c, 0x5A);
}

TEST(Malformed, CutTextsKeepWhatIsPresent) {
    // Five position characters: the other squares hold no position character.
    DxpMessage m = decode("R01" + name_field("x") + "Z010050BWzzzzz");
    EXPECT_EQ(m.gamereq.start_position, 'W');
    EXPECT_EQ(std::string(m.gamereq.position, 5), "zzzzz");
    for (int i = 5; i < 50; ++i) ASSERT_EQ(m.gamereq.position[i], '\0') << i;

    DxpMessage n = decode("R01Rob");
    EXPECT_EQ(n.gamereq.version, 1);
    EXPECT_STREQ(n.gamereq.initiator_name, "Rob");
    EXPECT_EQ(n.gamereq.follower_colour, '\0');
    EXPECT_EQ(n.gamereq.thinking_time, 0);
    EXPECT_EQ(n.gamereq.start_position, '\0');
    EXPECT_EQ(decode("E").gameend.reason, 0);
    EXPECT_EQ(decode("B01").backreq.colour, '\0');

    char text[dxp_max_text]; // no zero byte inside: the decoder must stop at the bound
    std::memset(text, 'k', sizeof text);
    text[0] = 'C';
    DxpMessage c;
    decode_dxp_message(text, c);
    EXPECT_EQ(std::strlen(c.chat.text), 126u);
}
