#include "common/TraceFormat.h"

#include <charconv>

namespace trevane {
namespace {

constexpr std::string_view kIdentityRequest = "\x12\x16\r";

std::string Quoted(std::string_view text) {
    const std::size_t kShown = 40;
    std::string shown(text.substr(0, kShown));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            c = '?';
        }
    }
    return "'" + shown + (text.size() > kShown ? "...'" : "'");
}

[[noreturn]] void Damaged(long lineNumber, const std::string& what) {
    throw TraceError("line " + std::to_string(lineNumber) + ": " + what);
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t from = 0;
    while (true) {
        const std::size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string_view::npos ? tab : tab - from));
        if (tab == std::string_view::npos) {
            return fields;
        }
        from = tab + 1;
    }
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size()) {
        return false;
    }
    const char* first = text.data() + at;
    const auto [end, ec] = std::from_chars(first, first + count, value);
    return ec == std::errc{} && end == first + count;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

// "12/07/26 17:35:01.123", as the log stamps it with milliseconds.
std::optional<std::int64_t> ParseStamp(std::string_view text) {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, millis = 0;
    const bool shaped = text.size() == 21 && text[2] == '/' && text[5] == '/' && text[8] == ' ' &&
                        text[11] == ':' && text[14] == ':' && text[17] == '.';
    if (!shaped || !Digits(text, 0, 2, month) || !Digits(text, 3, 2, day) ||
        !Digits(text, 6, 2, year) || !Digits(text, 9, 2, hour) || !Digits(text, 12, 2, minute) ||
        !Digits(text, 15, 2, second) || !Digits(text, 18, 3, millis)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const std::int64_t days = DaysFromCivil(2000 + year, month, day);
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millis;
}

std::string Unescaped(std::string_view field, long lineNumber, const char* name) {
    std::optional<std::string> bytes = UnescapeBytes(field);
    if (!bytes) {
        Damaged(lineNumber, std::string("the ") + name + " " + Quoted(field) +
                                " holds an escape this format never writes");
    }
    return std::move(*bytes);
}

// "record, 152 bytes" or "program, 40 bytes": the kind's word and the size, or nothing.
std::optional<std::size_t> SummarySize(std::string_view reply, std::string_view word) {
    const std::string prefix = std::string(word) + ", ";
    if (!reply.starts_with(prefix) || !reply.ends_with(" bytes")) {
        return std::nullopt;
    }
    const std::string_view number = reply.substr(
        prefix.size(), reply.size() - prefix.size() - std::string_view(" bytes").size());
    std::size_t size = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), size);
    if (ec != std::errc{} || end != number.data() + number.size() || number.empty()) {
        return std::nullopt;
    }
    return size;
}

void ClassifyReply(TraceExchange& exchange, std::string_view replyField) {
    const long line = exchange.lineNumber;
    if (exchange.acknowledgement.empty() || exchange.acknowledgement == "?") {
        if (!replyField.empty()) {
            Damaged(line, "a failed exchange with a reply " + Quoted(replyField));
        }
        return;
    }
    for (const auto& [word, kind] : {std::pair{"record", TraceExchange::Kind::Record},
                                     std::pair{"program", TraceExchange::Kind::Upload}}) {
        if (const std::optional<std::size_t> size = SummarySize(replyField, word)) {
            if (*size != exchange.bytes.size()) {
                Damaged(line, std::string("the ") + word + " should hold " + std::to_string(*size) +
                                  " bytes but " + std::to_string(exchange.bytes.size()) +
                                  " were recorded");
            }
            exchange.kind = kind;
            return;
        }
    }
    if (!exchange.bytes.empty()) {
        Damaged(line, "reply bytes recorded for a text reply");
    }
    exchange.reply = Unescaped(replyField, line, "reply");
    if (exchange.request == kIdentityRequest) {
        exchange.kind = TraceExchange::Kind::Identity;
    }
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
    static constexpr const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 8);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte > 0x7E) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> UnescapeBytes(std::string_view text) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte > 0x7E) {
            return std::nullopt;
        }
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        if (text[i] == 'r' || text[i] == 'n' || text[i] == '\\') {
            out += text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : '\\';
        } else if (text[i] == 'x' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
                   hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

TraceExchange ParseTraceLine(std::string_view line, long lineNumber) {
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() == kOlderTraceFields) {
        Damaged(lineNumber,
                "written by an older Trevane, which kept no reply bytes; record the trace again");
    }
    if (fields.size() != kTraceFields) {
        Damaged(lineNumber, "damaged: " + std::to_string(fields.size()) + " fields, expected " +
                                std::to_string(kTraceFields));
    }
    TraceExchange exchange;
    exchange.lineNumber = lineNumber;
    const std::optional<std::int64_t> time = ParseStamp(fields[0]);
    if (!time) {
        Damaged(lineNumber, "the time " + Quoted(fields[0]) + " is not MM/DD/YY HH:MM:SS.mmm");
    }
    exchange.timeMs = *time;
    if (fields[1] != "command" && fields[1] != "record") {
        Damaged(lineNumber, "the session " + Quoted(fields[1]) + " is neither command nor record");
    }
    exchange.recordSession = fields[1] == "record";
    exchange.request = Unescaped(fields[2], lineNumber, "request");
    if (exchange.request.empty() || exchange.request.find('\r') == std::string::npos) {
        Damaged(lineNumber, "the request " + Quoted(fields[2]) + " has no CR");
    }
    exchange.acknowledgement = std::string(fields[4]);
    if (exchange.acknowledgement.size() > 1) {
        Damaged(lineNumber, "the acknowledgement " + Quoted(fields[4]) + " is not one byte");
    }
    std::int64_t microseconds = 0;
    const auto [end, ec] =
        std::from_chars(fields[5].data(), fields[5].data() + fields[5].size(), microseconds);
    if (ec != std::errc{} || end != fields[5].data() + fields[5].size() || microseconds < 0) {
        Damaged(lineNumber, "the round trip " + Quoted(fields[5]) + " is not a number");
    }
    exchange.reason = Unescaped(fields[6], lineNumber, "reason");
    exchange.bytes = Unescaped(fields[7], lineNumber, "reply bytes");
    ClassifyReply(exchange, fields[3]);
    return exchange;
}

std::optional<TraceExchange> TraceReader::Next() {
    std::streambuf& buffer = *in_.rdbuf();
    while (true) {
        line_.clear();
        bool ended = false;
        for (int next = buffer.sbumpc(); next != std::char_traits<char>::eof();
             next = buffer.sbumpc()) {
            const char c = static_cast<char>(next);
            if (c == '\n') {
                ended = true;
                break;
            }
            if (line_.size() == kMaxTraceLineBytes) {
                Damaged(lineNumber_ + 1,
                        "longer than " + std::to_string(kMaxTraceLineBytes) + " bytes");
            }
            line_ += c;
        }
        if (!ended && line_.empty()) {
            if (!any_) {
                throw TraceError("the trace holds no exchanges");
            }
            return std::nullopt;
        }
        ++lineNumber_;
        if (!ended) {
            Damaged(lineNumber_, "truncated (the trace ends inside this line)");
        }
        if (lineNumber_ == 1 && line_.starts_with('#')) {
            continue;
        }
        any_ = true;
        return ParseTraceLine(line_, lineNumber_);
    }
}

std::vector<TraceExchange> ReadTrace(std::istream& in) {
    std::vector<TraceExchange> exchanges;
    TraceReader reader(in);
    while (std::optional<TraceExchange> exchange = reader.Next()) {
        exchanges.push_back(std::move(*exchange));
    }
    return exchanges;
}

}  // namespace trevane
