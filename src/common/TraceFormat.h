#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The line format of trace files: one exchange a line, tab-separated, every byte kept printable.
// Written by the traffic recorder's trace writer, read back by the replaying simulator.
namespace trevane {

// CR and LF as \r and \n, other control bytes, bytes above 0x7E as \xNN, the backslash doubled: one
// printable ASCII line that keeps every byte.
std::string EscapeBytes(std::string_view bytes);
// The bytes EscapeBytes was given; nothing when `text` is not something it writes.
std::optional<std::string> UnescapeBytes(std::string_view text);

// "time\tsession\trequest\treply\tacknowledgement\tmicroseconds\treason\tbytes": eight fields.
inline constexpr std::size_t kTraceFields = 8;
// Traces written before the reply's bytes were kept have the first seven fields only.
inline constexpr std::size_t kOlderTraceFields = 7;
// Longer lines are damage (an upload of 1 MiB escapes to at most 4 MiB).
inline constexpr std::size_t kMaxTraceLineBytes = 4 * 1024 * 1024 + 4096;

struct TraceExchange {
    enum class Kind { Text, Identity, Upload, Record };

    long lineNumber = 0;
    std::int64_t timeMs = 0;  // milliseconds on the trace's own calendar, for differences only
    bool recordSession = false;
    Kind kind = Kind::Text;
    std::string request;          // as sent, terminator included
    std::string reply;            // Text and Identity: the reply as the caller got it
    std::string acknowledgement;  // ":" (or the caller's own), "?", or "" when none came
    std::string reason;           // a rejection's "TC1" answer, or what failed
    std::string bytes;            // Upload: the program text; Record: the record
};

// A trace that cannot be read, naming the line and what is wrong with it.
class TraceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A trace read one exchange at a time, so that a reader holds only the line at hand. A first line
// starting with "#" is a header and is skipped.
class TraceReader {
  public:
    explicit TraceReader(std::istream& in) : in_(in) {}
    // The next exchange in file order, or nothing at the end. Throws TraceError ("line N: ...")
    // for an older, truncated or damaged trace, and at the end of one that held no exchange.
    std::optional<TraceExchange> Next();

  private:
    std::istream& in_;
    std::string line_;
    long lineNumber_ = 0;
    bool any_ = false;
};

// Every exchange of a trace, in file order, read by a TraceReader.
std::vector<TraceExchange> ReadTrace(std::istream& in);

// One line without its line end; throws TraceError naming `lineNumber`.
TraceExchange ParseTraceLine(std::string_view line, long lineNumber);

}  // namespace trevane
