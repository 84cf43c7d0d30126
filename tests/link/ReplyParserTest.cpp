#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/Protocol.h"

namespace trevane::protocol {
namespace {

using namespace std::string_literals;

struct Parsed {
    std::size_t used;
    bool done;
    bool rejected;
    std::string data;
};

Parsed ParseWhole(ReplyParser parser, const std::string& bytes) {
    const std::size_t used = parser.Feed(bytes);
    return {used, parser.Done(), parser.Rejected(), parser.Data()};
}

// The same bytes fed in two pieces at every split point must frame the same way.
void ExpectSameAtEverySplit(ReplyKind kind, std::size_t acks, const std::string& bytes) {
    const Parsed whole = ParseWhole(ReplyParser(kind, acks), bytes);
    for (std::size_t split = 0; split <= bytes.size(); ++split) {
        ReplyParser parser(kind, acks);
        std::size_t used = parser.Feed(std::string_view(bytes).substr(0, split));
        if (!parser.Done()) {
            used += parser.Feed(std::string_view(bytes).substr(split));
        }
        EXPECT_EQ(used, whole.used) << "split at " << split;
        EXPECT_EQ(parser.Data(), whole.data) << "split at " << split;
        EXPECT_EQ(parser.Done(), whole.done) << "split at " << split;
    }
}

TEST(TextReplyTest, AcknowledgementCountsOnlyAtTheStartOrAfterALineFeed) {
    EXPECT_EQ(ParseWhole(ReplyParser(ReplyKind::Text), " 1.5000\r\n:").data, " 1.5000\r\n");
    EXPECT_EQ(ParseWhole(ReplyParser(ReplyKind::Text), "12:34?\r\n:").data, "12:34?\r\n");

    // After a CR alone the ack byte is still data; the reply goes on.
    ReplyParser parser(ReplyKind::Text);
    EXPECT_EQ(parser.Feed("x\r:"), 3u);
    EXPECT_FALSE(parser.Done());
    EXPECT_EQ(parser.Feed("\n:"), 2u);
    EXPECT_TRUE(parser.Done());
    EXPECT_EQ(parser.Data(), "x\r:\n");
}

TEST(TextReplyTest, EmptyRejectedAndTrailingBytes) {
    const Parsed empty = ParseWhole(ReplyParser(ReplyKind::Text), ":");
    EXPECT_TRUE(empty.done);
    EXPECT_FALSE(empty.rejected);
    EXPECT_EQ(empty.data, "");

    const Parsed rejected = ParseWhole(ReplyParser(ReplyKind::Text), "?");
    EXPECT_TRUE(rejected.done);
    EXPECT_TRUE(rejected.rejected);

    // Bytes after the ack answer no request: they are left unconsumed.
    const Parsed trailing = ParseWhole(ReplyParser(ReplyKind::Text), "5\r\n:stale:");
    EXPECT_EQ(trailing.used, 4u);
    EXPECT_EQ(trailing.data, "5\r\n");
}

TEST(TextReplyTest, OneAcknowledgementPerCarriageReturnSent) {
    EXPECT_EQ(AcknowledgementsFor("TPX", "\r"), 1u);
    EXPECT_EQ(AcknowledgementsFor("SH\rBG X\r", "\r"), 3u);
    EXPECT_EQ(AcknowledgementsFor("TPX", ""), 1u);

    const Parsed joined = ParseWhole(ReplyParser(ReplyKind::Text, 3), "1\r\n:2\r\n::tail");
    EXPECT_TRUE(joined.done);
    EXPECT_EQ(joined.data, "1\r\n2\r\n");
    EXPECT_EQ(joined.used, 9u);

    // One rejected line rejects the whole request, but every ack is still read.
    ReplyParser parser(ReplyKind::Text, 2);
    parser.Feed("?");
    EXPECT_FALSE(parser.Done());
    parser.Feed("4\r\n:");
    EXPECT_TRUE(parser.Done());
    EXPECT_TRUE(parser.Rejected());

    ExpectSameAtEverySplit(ReplyKind::Text, 3, "a:b\r\n:\r\n?x\r\n:");
}

TEST(TextReplyTest, AcceptedByteIsTheCallersAcknowledgement) {
    const Parsed parsed = ParseWhole(ReplyParser(ReplyKind::Text, 1, '>'), ":1\r\n>");
    EXPECT_TRUE(parsed.done);
    EXPECT_EQ(parsed.data, ":1\r\n");
}

std::string RecordBytes(std::size_t length, char fill = 'r') {
    std::string bytes(length, fill);
    bytes[0] = '\x01';
    bytes[1] = '\x02';
    bytes[2] = static_cast<char>(length & 0xFF);
    bytes[3] = static_cast<char>(length >> 8);
    return bytes;
}

TEST(RecordReplyTest, ReadsTheLengthFromHeaderBytesTwoAndThree) {
    // 0x0198 = 408: the high byte comes second.
    const std::string record = RecordBytes(408, ':');
    const Parsed parsed = ParseWhole(ReplyParser(ReplyKind::Record), record + ":next");
    EXPECT_TRUE(parsed.done);
    EXPECT_EQ(parsed.used, 409u);
    EXPECT_EQ(parsed.data, record);

    // Binary bytes that look like acks or line feeds are record data.
    std::string tricky = RecordBytes(8);
    tricky.replace(4, 4, "\n:?\n");
    EXPECT_EQ(ParseWhole(ReplyParser(ReplyKind::Record), tricky + ":").data, tricky);
    ExpectSameAtEverySplit(ReplyKind::Record, 1, tricky + ":");
}

TEST(RecordReplyTest, RejectionAndMalformedRecords) {
    EXPECT_TRUE(ParseWhole(ReplyParser(ReplyKind::Record), "?").rejected);
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Record), "\x01\x02\x03\x00"s), ReplyFormatError);
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Record), RecordBytes(10) + "x"),
                 ReplyFormatError);

    // A record shorter than the status table needs is still a well-framed record.
    const Parsed shortRecord = ParseWhole(ReplyParser(ReplyKind::Record), RecordBytes(100) + ":");
    EXPECT_TRUE(shortRecord.done);
    EXPECT_EQ(shortRecord.data.size(), 100u);
}

TEST(UploadReplyTest, EndsAtTheEndMarkThenTheAcknowledgement) {
    const std::string program = "#A\r\n:label\r\n?x\r\nEN\r\n";
    const Parsed parsed = ParseWhole(ReplyParser(ReplyKind::Upload), program + "\x1A:");
    EXPECT_TRUE(parsed.done);
    EXPECT_EQ(parsed.data, program);
    ExpectSameAtEverySplit(ReplyKind::Upload, 1, program + "\x1A:");

    EXPECT_TRUE(ParseWhole(ReplyParser(ReplyKind::Upload), "?").rejected);
    EXPECT_EQ(ParseWhole(ReplyParser(ReplyKind::Upload), "\x1A:").data, "");
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Upload), "EN\x1Ax"), ReplyFormatError);
    EXPECT_EQ(ToUnixLineEnds("#A\r\nEN\r\n\rX"), "#A\nEN\n\rX");
}

TEST(ReplyBoundTest, DataBeyondTheBoundThrows) {
    const std::string atBound = std::string(15, 'a') + "\n";
    EXPECT_TRUE(ParseWhole(ReplyParser(ReplyKind::Text, 1, ':', 16), atBound + ":").done);
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Text, 1, ':', 16), atBound + "\n:"),
                 ReplyFormatError);
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Upload, 1, ':', 16), atBound + "a\x1A:"),
                 ReplyFormatError);

    // The real bound: 1 MiB of data is a reply, one byte more is not.
    const std::string mebibyte = std::string(1024 * 1024 - 2, 'x') + "\r\n";
    EXPECT_TRUE(ParseWhole(ReplyParser(ReplyKind::Text), mebibyte + ":").done);
    EXPECT_THROW(ParseWhole(ReplyParser(ReplyKind::Text), mebibyte + "\n:"), ReplyFormatError);
}

// Inputs a hostile controller could send, each fed whole and one byte at a time.
TEST(ReplyBoundTest, HostileBytesFailOrFrameTheSameHoweverTheyArrive) {
    struct Case {
        ReplyKind kind;
        char accepted;
        std::size_t bound;
        std::string bytes;
        bool fails;
        bool done;
        std::string data;
    };
    const std::vector<Case> cases = {
        // With another ack byte, ":" is data; running into the bound then fails.
        {ReplyKind::Text, '\x01', 2, "\0:x\r\n5\r\n:"s, true, false, "\0:"s},
        {ReplyKind::Text, '\x01', 64, ":x\n\x01"s, false, true, ":x\n"},
        // A header that gives exactly its own length is a whole record.
        {ReplyKind::Record, ':', 64, "\0\0\x04\0:"s, false, true, "\0\0\x04\0"s},
        {ReplyKind::Record, ':', 64, "\0\0\x03\0:"s, true, false, "\0\0\x03\0"s},
        {ReplyKind::Record, ':', 8, "\0\0\xFF\xFF"s + std::string(8, 'r'), true, false,
         "\0\0\xFF\xFF"s + std::string(4, 'r')},
        // Without its end mark an upload never completes and stops at the bound.
        {ReplyKind::Upload, ':', 64, "EN\r\n:", false, false, "EN\r\n:"},
        {ReplyKind::Upload, ':', 4, "EN\r\n:", true, false, "EN\r\n"},
    };
    for (const Case& c : cases) {
        for (const bool bytewise : {false, true}) {
            ReplyParser parser(c.kind, 1, c.accepted, c.bound);
            bool failed = false;
            try {
                if (bytewise) {
                    for (std::size_t i = 0; i < c.bytes.size() && !parser.Done(); ++i) {
                        parser.Feed(std::string_view(c.bytes).substr(i, 1));
                    }
                } else {
                    parser.Feed(c.bytes);
                }
            } catch (const ReplyFormatError&) {
                failed = true;
            }
            const std::string what = Printable(c.bytes) + (bytewise ? " bytewise" : " whole");
            EXPECT_EQ(failed, c.fails) << what;
            EXPECT_EQ(parser.Done(), c.done) << what;
            EXPECT_EQ(parser.Data(), c.data) << what;
        }
    }
}

TEST(ReplyTextTest, TrimRemovesBlanksTabsAndLineEndsAtBothEnds) {
    EXPECT_EQ(TrimReply(" \t\r\n 1.5 x\r\n\t "), "1.5 x");
    EXPECT_EQ(TrimReply(" \r\n"), "");
    EXPECT_EQ(TrimReply(""), "");
}

TEST(AddressTest, OnlyFourDecimalNumbersUpTo255) {
    using Bytes = std::array<std::uint8_t, 4>;
    EXPECT_EQ(ParseDottedIpv4("127.0.0.1"), (Bytes{127, 0, 0, 1}));
    EXPECT_EQ(ParseDottedIpv4("255.255.255.255"), (Bytes{255, 255, 255, 255}));
    EXPECT_EQ(ParseDottedIpv4("0.0.0.0"), (Bytes{0, 0, 0, 0}));
    for (const char* bad : {"", "localhost", "127.0.0", "127.0.0.1.5", "256.0.0.1", "127.0.0.1 ",
                            " 127.0.0.1", "127.0.0.-1", "127..0.1", "1270.0.0.1", "0x7f.0.0.1",
                            "127.0.0.1:23", "::1", "127.0.0.", ".127.0.0.1"}) {
        EXPECT_FALSE(ParseDottedIpv4(bad)) << "'" << bad << "'";
    }
}

TEST(ReplyTextTest, PrintableEscapesControlBytesAndShortens) {
    EXPECT_EQ(Printable("\x12\x16"), "\\x12\\x16");
    EXPECT_EQ(Printable("A\rB\n"), "A\\rB\\n");
    EXPECT_EQ(Printable(std::string(100, 'a'), 10), std::string(10, 'a') + "...");
}

}  // namespace
}  // namespace trevane::protocol
