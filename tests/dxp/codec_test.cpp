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

// Decodes a copy of the text in a buffer of exactly its length, poisoning the record first.
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

} // namespace

TEST(Trim, RemovesOnlyTrailingSpaces) {
    char a[] = "Robot   ";
    trim_trailing_spaces(a);
    EXPECT_STREQ(a, "Robot");
    char b[] = "  two words  x";
    trim_trailing_spaces(b);
    EXPECT_STREQ(b, "  two words  x");
    char c[] = "    ";
    trim_trailing_spaces(c);
    EXPECT_STREQ(c, "");
    char d[] = "";
    trim_trailing_spaces(d);
    EXPECT_STREQ(d, "");
    char e[] = "tab\t";
    trim_trailing_spaces(e);
    EXPECT_STREQ(e, "tab\t");
}

TEST(GameRequest, StandardStartIs43CharactersAndGivenPositionIs94) {
    DxpMessage m = cleared(DXP_GAMEREQ);
    m.gamereq.version = 1;
    std::strcpy(m.gamereq.initiator_name, "Robot");
    m.gamereq.follower_colour = 'W';
    m.gamereq.thinking_time = 10;
    m.gamereq.move_count = 50;
    m.gamereq.start_position = 'A';
    std::memcpy(m.gamereq.position, position_z.data(), 50);
    EXPECT_EQ(encode(m), "R01" + name_field("Robot") + "W010050A");

    m.gamereq.start_position = 'Z';
    std::string text = encode(m);
    ASSERT_EQ(text.size(), 94u);
    EXPECT_EQ(text[42], 'B');
    EXPECT_EQ(text[43], 'Z');
    EXPECT_EQ(text.substr(44), position_z);
}

TEST(GameRequest, DecodesTheRobotExample) {
    std::string text = "R01" + name_field("Robot") + "W010050A";
    ASSERT_EQ(text.size(), 43u);
    DxpMessage m = decode(text);
    EXPECT_EQ(m.type, DXP_GAMEREQ);
    EXPECT_EQ(m.gamereq.version, 1);
    EXPECT_STREQ(m.gamereq.initiator_name, "Robot");
    EXPECT_EQ(m.gamereq.follower_colour, 'W');
    EXPECT_EQ(m.gamereq.thinking_time, 10);
    EXPECT_EQ(m.gamereq.move_count, 50);
    EXPECT_EQ(m.gamereq.start_position, 'A');
    EXPECT_EQ(encode(m), text);
}

TEST(GameRequest, GivenPositionRoundTrips) {
    std::string text = "R02" + name_field("a b") + "Z123999BW" + position_z;
    DxpMessage m = decode(text);
    EXPECT_STREQ(m.gamereq.initiator_name, "a b"); // inner space kept
    EXPECT_EQ(m.gamereq.follower_colour, 'Z');
    EXPECT_EQ(m.gamereq.thinking_time, 123);
    EXPECT_EQ(m.gamereq.move_count, 999);
    EXPECT_EQ(m.gamereq.start_position, 'W');
    EXPECT_EQ(std::string(m.gamereq.position, 50), position_z);
    EXPECT_EQ(encode(m), text);
}

TEST(GameRequest, AnyLetterButAAt42MeansAGivenPosition) {
    std::string text = "R01" + name_field("x") + "W001001XZ" + position_z;
    DxpMessage m = decode(text);
    EXPECT_EQ(m.gamereq.start_position, 'Z');
    EXPECT_EQ(m.gamereq.position[0], 'z');
}

TEST(Names, ThirtyTwoCharactersSurviveAndLongerOnesAreCut) {
    std::string full(32, 'n');
    full[5] = ' ';
    DxpMessage m = decode("A" + full + "3");
    EXPECT_EQ(m.type, DXP_GAMEACC);
    EXPECT_EQ(std::string(m.gameacc.follower_name), full);
    EXPECT_EQ(m.gameacc.acceptance, 3);

    DxpMessage out = cleared(DXP_GAMEACC);
    std::memset(out.gameacc.follower_name, 'q', sizeof out.gameacc.follower_name); // unterminated
    out.gameacc.acceptance = 0;
    EXPECT_EQ(encode(out), "A" + std::string(32, 'q') + "0");
}

TEST(GameAccept, KavroExampleIs35BytesOnTheWire) {
    DxpMessage m = cleared(DXP_GAMEACC);
    std::strcpy(m.gameacc.follower_name, "Kavro");
    std::string text = encode(m);
    EXPECT_EQ(text, "AKavro" + std::string(27, ' ') + "0");
    EXPECT_EQ(text.size() + 1, 35u);
    DxpMessage back = decode(text);
    EXPECT_STREQ(back.gameacc.follower_name, "Kavro");
    EXPECT_EQ(back.gameacc.acceptance, 0);
}

TEST(Move, EncodesWithAndWithoutCaptures) {
    DxpMessage m = cleared(DXP_MOVE);
    m.move.time = 7;
    m.move.from_square = 32;
    m.move.to_square = 28;
    EXPECT_EQ(encode(m), "M0007322800");

    m.move.capture_count = 3;
    m.move.captured[0] = 27;
    m.move.captured[1] = 9;
    m.move.captured[2] = 18;
    m.move.captured[3] = 44; // beyond the count: not sent
    std::string text = encode(m);
    EXPECT_EQ(text, "M00073228032709"
                    "18");
    EXPECT_EQ(text.size(), 17u);
    m.move.capture_count = -2;
    EXPECT_EQ(encode(m).size(), 11u);
}

TEST(Move, DecodesTheCaptureExample) {
    DxpMessage m = decode("M000032230128");
    EXPECT_EQ(m.type, DXP_MOVE);
    EXPECT_EQ(m.move.time, 0);
    EXPECT_EQ(m.move.from_square, 32);
    EXPECT_EQ(m.move.to_square, 23);
    EXPECT_EQ(m.move.capture_count, 1);
    EXPECT_EQ(m.move.captured[0], 28);
    EXPECT_EQ(m.move.captured[1], 0); // cleared, nothing left of an earlier message
}

TEST(Move, EncodingNeverOverrunsTheSendBuffer) {
    DxpMessage m = cleared(DXP_MOVE);
    m.move.capture_count = dxp_max_captured;
    for (int i = 0; i < dxp_max_captured; ++i) m.move.captured[i] = int16_t(i % 50 + 1);
    std::string text = encode(m);
    EXPECT_EQ(text.size(), size_t(11 + 2 * dxp_max_sent_captures));
    EXPECT_EQ(text.substr(9, 2), std::to_string(dxp_max_sent_captures));
    // The text stays consistent: it decodes to the squares it carries.
    DxpMessage back = decode(text);
    EXPECT_EQ(back.move.capture_count, dxp_max_sent_captures);
    EXPECT_EQ(back.move.captured[dxp_max_sent_captures - 1], m.move.captured[57]);
}

TEST(Numbers, ThatDoNotFitAreClampedToTheirField) {
    DxpMessage m = cleared(DXP_BACKREQ);
    m.backreq.move_number = 1234;
    m.backreq.colour = 'W';
    EXPECT_EQ(encode(m), "B999W");
    m.backreq.move_number = -4;
    EXPECT_EQ(encode(m), "B000W");
    DxpMessage t = cleared(DXP_MOVE);
    t.move.time = 32000;
    t.move.from_square = 100;
    EXPECT_EQ(encode(t), "M9999990000");
}

TEST(GameEnd, BothWays) {
    DxpMessage m = decode("E20");
    EXPECT_EQ(m.type, DXP_GAMEEND);
    EXPECT_EQ(m.gameend.reason, 2);
    EXPECT_EQ(m.gameend.stop_code, 0);
    DxpMessage out = cleared(DXP_GAMEEND);
    out.gameend.reason = 1;
    EXPECT_EQ(encode(out), "E10");
    // Not required to be digits: the character minus '0', and back.
    DxpMessage odd = decode("E#x");
    EXPECT_EQ(odd.gameend.reason, '#' - '0');
    EXPECT_EQ(odd.gameend.stop_code, 'x' - '0');
    EXPECT_EQ(encode(odd), "E#x");
}

TEST(Chat, FullTextIs128BytesAndLongerIsCut) {
    DxpMessage m = cleared(DXP_CHAT);
    std::memset(m.chat.text, 'c', 126);
    std::string text = encode(m);
    EXPECT_EQ(text.size(), 127u);
    EXPECT_EQ(text, "C" + std::string(126, 'c'));
    std::memset(m.chat.text, 'd', sizeof m.chat.text); // unterminated
    EXPECT_EQ(encode(m), "C" + std::string(126, 'd'));

    DxpMessage back = decode("C" + std::string(131, 'e'));
    EXPECT_EQ(std::string(back.chat.text), std::string(126, 'e'));
    EXPECT_STREQ(decode("C").chat.text, "");
    EXPECT_STREQ(decode("Chello there ").chat.text, "hello there ");
}

TEST(BackRequest, BothWays) {
    DxpMessage m = decode("B012W");
    EXPECT_EQ(m.type, DXP_BACKREQ);
    EXPECT_EQ(m.backreq.move_number, 12);
    EXPECT_EQ(m.backreq.colour, 'W');
    DxpMessage out = cleared(DXP_BACKREQ);
    out.backreq.move_number = 12;
    out.backreq.colour = 'Z';
    EXPECT_EQ(encode(out), "B012Z");
}

TEST(BackAccept, BothWays) {
    DxpMessage m = decode("K1");
    EXPECT_EQ(m.type, DXP_BACKACC);
    EXPECT_EQ(m.backacc.acceptance, 1);
    DxpMessage out = cleared(DXP_BACKACC);
    out.backacc.acceptance = 1;
    EXPECT_EQ(encode(out), "K1");
}

TEST(UnknownTypes, LeaveTheRecordAndEncodeNothing) {
    DxpMessage before;
    std::memset(&before, 0x5A, sizeof before);
    for (const char* text : {"D123", "", "r01", "\x80xyz"}) {
        DxpMessage m = before;
        decode_dxp_message(text, m);
        EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0) << text;
    }
    EXPECT_EQ(encode(cleared(0)), "");
    EXPECT_EQ(encode(cleared(9)), "");
}

// ---- short and malformed texts ----------------------------------------------------------

TEST(Malformed, NumberFieldsTakeOnlyTheirLeadingDigits) {
    DxpMessage m = decode("M00x53a2803");
    EXPECT_EQ(m.move.time, 0);        // "00x5": digits stop at the x
    EXPECT_EQ(m.move.from_square, 3); // "3a"
    EXPECT_EQ(m.move.to_square, 28);
    EXPECT_EQ(m.move.capture_count, 0); // claims 3, carries none
    DxpMessage b = decode("Bxy7Z");
    EXPECT_EQ(b.backreq.move_number, 0);
    EXPECT_EQ(b.backreq.colour, 'Z');
    EXPECT_EQ(decode("K?").backacc.acceptance, 0);
    EXPECT_EQ(decode("A" + name_field("n") + "x").gameacc.acceptance, 0);
}

TEST(Malformed, MoveCountsOnlyTheSquaresReallyPresent) {
    // Claims three captures, carries two: the count becomes 2 so that it cannot match a
    // legal capture of three on the strength of garbage.
    DxpMessage m = decode("M00003223032827");
    EXPECT_EQ(m.move.capture_count, 2);
    EXPECT_EQ(m.move.captured[0], 28);
    EXPECT_EQ(m.move.captured[1], 27);
    EXPECT_EQ(m.move.captured[2], 0);
    // A half square at the end is not a square.
    DxpMessage half = decode("M000032230228"
                             "2");
    EXPECT_EQ(half.move.capture_count, 1);
    // A count field cut by the end of the text.
    EXPECT_EQ(decode("M0000322").move.capture_count, 0);
    EXPECT_EQ(decode("M0000322").move.to_square, 2);
    EXPECT_EQ(decode("M").move.from_square, 0);
}

TEST(Malformed, MoveNeverWritesPastItsRecord) {
    // 99 captures claimed and the text full of squares: only the record's 59 are taken, and
    // nothing after the captured array changes.
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
    for (char c : g.guard) EXPECT_EQ(c, 0x5A);
}

TEST(Malformed, ShortGivenPositionLeavesTheMissingSquaresUnset) {
    std::string text = "R01" + name_field("x") + "Z010050BWzzzzz";
    DxpMessage m = decode(text);
    EXPECT_EQ(m.gamereq.start_position, 'W');
    EXPECT_EQ(std::string(m.gamereq.position, 5), "zzzzz");
    for (int i = 5; i < 50; ++i) EXPECT_EQ(m.gamereq.position[i], '\0') << i;
}

TEST(Malformed, CutGameRequestFieldsAreAbsent) {
    DxpMessage m = decode("R0");
    EXPECT_EQ(m.type, DXP_GAMEREQ);
    EXPECT_EQ(m.gamereq.version, 0);
    EXPECT_STREQ(m.gamereq.initiator_name, "");
    EXPECT_EQ(m.gamereq.follower_colour, '\0');
    EXPECT_EQ(m.gamereq.start_position, '\0');
    DxpMessage n = decode("R01Rob");
    EXPECT_EQ(n.gamereq.version, 1);
    EXPECT_STREQ(n.gamereq.initiator_name, "Rob");
    DxpMessage e = decode("E");
    EXPECT_EQ(e.gameend.reason, 0);
    EXPECT_EQ(e.gameend.stop_code, 0);
    EXPECT_EQ(decode("B01").backreq.colour, '\0');
}

TEST(Malformed, ReadsNoFurtherThan132Characters) {
    // A text without its zero inside the bound: the decoder stops at 132 characters.
    char text[dxp_max_text];
    std::memset(text, 'k', sizeof text);
    text[0] = 'C';
    DxpMessage m;
    decode_dxp_message(text, m);
    EXPECT_EQ(std::strlen(m.chat.text), 126u);
}
