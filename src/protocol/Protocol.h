#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The controller's reply framing, kept free of sockets so that it can be checked on byte buffers.
namespace trevane::protocol {

inline constexpr char kAccepted = ':';
inline constexpr char kRejected = '?';
inline constexpr char kEndOfUpload = 0x1A;
// The identity request: these two bytes, then the usual "\r".
inline constexpr std::string_view kIdentityRequest = "\x12\x16";

// How the clients word a session that the controller ended, under a request or before it was
// sent. A trace keeps the words, and a replay of it closes the connection where they stand.
inline constexpr std::string_view kClosedTheConnection = "closed the connection";
inline constexpr std::string_view kClosedTheSession = "closed the session";

// Bytes that do not frame as a reply (or a reply past its bound): the stream is out of step.
class ReplyFormatError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ReplyKind {
    Text,    // data lines, acknowledged at the reply's start or right after a line feed
    Record,  // binary record whose header bytes 2-3 give its total length, then the ack
    Upload,  // program text up to 0x1A, then the ack
};

// Reads one reply incrementally: feed it bytes as they arrive until Done().
class ReplyParser {
  public:
    // `acknowledgements`: how many acks end the reply (one per CR sent, Text only).
    // `accepted`: the ack byte that means success; "?" always means rejection.
    explicit ReplyParser(ReplyKind kind, std::size_t acknowledgements = 1,
                         char accepted = kAccepted, std::size_t maxBytes = 1024 * 1024);

    // Consumes bytes up to and including the reply's last ack; returns how many it took.
    // Bytes after that belong to no request and are left to the caller to drop.
    // Throws ReplyFormatError on a malformed or oversized reply.
    std::size_t Feed(std::string_view bytes);

    bool Done() const { return acksSeen_ == acksExpected_; }
    bool Rejected() const { return rejected_; }
    std::size_t AcknowledgementsSeen() const { return acksSeen_; }
    // Every data byte of the reply (the replies of all acks, joined), without the acks.
    const std::string& Data() const { return data_; }
    std::string TakeData() { return std::move(data_); }

  private:
    bool IsAck(char byte) const { return byte == accepted_ || byte == kRejected; }
    void Acknowledge(char byte);
    void Append(char byte);
    void FeedText(char byte);
    void FeedRecord(char byte);
    void FeedUpload(char byte);

    ReplyKind kind_;
    std::size_t acksExpected_;
    std::size_t acksSeen_ = 0;
    char accepted_;
    std::size_t maxBytes_;
    bool rejected_ = false;
    bool atLineStart_ = true;  // at the start of a reply, or right after a line feed
    bool bodyEnded_ = false;   // Record: all bytes read; Upload: 0x1A seen
    std::size_t recordLength_ = 0;
    std::string data_;
};

// How many acknowledgements a request earns: one per CR sent, and at least one.
std::size_t AcknowledgementsFor(std::string_view command, std::string_view terminator);

// Removes blanks, tabs, CR and LF from both ends.
std::string TrimReply(std::string_view reply);

// "\r\n" becomes "\n"; lone CRs stay.
std::string ToUnixLineEnds(std::string_view text);

// Four decimal numbers 0..255 joined by dots, nothing else ("127.0.0.1").
std::optional<std::array<std::uint8_t, 4>> ParseDottedIpv4(std::string_view text);

// A command as it may appear in an error text: control bytes escaped, long text shortened.
std::string Printable(std::string_view bytes, std::size_t maxLength = 60);

}  // namespace trevane::protocol
