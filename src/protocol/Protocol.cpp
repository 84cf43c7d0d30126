#include "protocol/Protocol.h"

#include <algorithm>
#include <cstdio>

#include "common/RecordLayout.h"

namespace trevane::protocol {

ReplyParser::ReplyParser(ReplyKind kind, std::size_t acknowledgements, char accepted,
                         std::size_t maxBytes)
    : kind_(kind),
      acksExpected_(kind == ReplyKind::Text ? std::max<std::size_t>(acknowledgements, 1) : 1),
      accepted_(accepted),
      maxBytes_(maxBytes) {}

std::size_t ReplyParser::Feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && !Done()) {
        const char byte = bytes[used++];
        switch (kind_) {
            case ReplyKind::Text:
                FeedText(byte);
                break;
            case ReplyKind::Record:
                FeedRecord(byte);
                break;
            case ReplyKind::Upload:
                FeedUpload(byte);
                break;
        }
    }
    return used;
}

void ReplyParser::Acknowledge(char byte) {
    ++acksSeen_;
    rejected_ = rejected_ || byte == kRejected;
    atLineStart_ = true;
}

void ReplyParser::Append(char byte) {
    if (data_.size() >= maxBytes_) {
        throw ReplyFormatError("reply longer than " + std::to_string(maxBytes_) + " bytes");
    }
    data_.push_back(byte);
}

void ReplyParser::FeedText(char byte) {
    // A ":" or "?" inside a data line is data; only one at a line's start ends the reply.
    if (atLineStart_ && IsAck(byte)) {
        Acknowledge(byte);
        return;
    }
    Append(byte);
    atLineStart_ = byte == '\n';
}

void ReplyParser::FeedRecord(char byte) {
    if (bodyEnded_) {
        if (!IsAck(byte)) {
            throw ReplyFormatError("data record of " + std::to_string(recordLength_) +
                                   " bytes not followed by an acknowledgement");
        }
        Acknowledge(byte);
        return;
    }
    if (data_.empty() && byte == kRejected) {
        Acknowledge(byte);
        return;
    }
    Append(byte);
    constexpr std::size_t kLengthEnd = record::kLengthOffset + 2;
    if (data_.size() == kLengthEnd) {
        const auto low = static_cast<unsigned char>(data_[record::kLengthOffset]);
        const auto high = static_cast<unsigned char>(data_[record::kLengthOffset + 1]);
        recordLength_ = low | (static_cast<std::size_t>(high) << 8);
        if (recordLength_ < kLengthEnd) {
            throw ReplyFormatError("data record header gives a length of " +
                                   std::to_string(recordLength_) + " bytes");
        }
    }
    bodyEnded_ = data_.size() >= kLengthEnd && data_.size() == recordLength_;
}

void ReplyParser::FeedUpload(char byte) {
    if (bodyEnded_) {
        if (!IsAck(byte)) {
            throw ReplyFormatError("program text not acknowledged after its end mark");
        }
        Acknowledge(byte);
        return;
    }
    // A program line may well start with ":"; only the reply's very first byte can be an ack.
    if (data_.empty() && IsAck(byte)) {
        Acknowledge(byte);
        return;
    }
    if (byte == kEndOfUpload) {
        bodyEnded_ = true;
        return;
    }
    Append(byte);
}

std::size_t AcknowledgementsFor(std::string_view command, std::string_view terminator) {
    const auto crs = std::count(command.begin(), command.end(), '\r') +
                     std::count(terminator.begin(), terminator.end(), '\r');
    return std::max<std::size_t>(static_cast<std::size_t>(crs), 1);
}

std::string TrimReply(std::string_view reply) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = reply.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = reply.find_last_not_of(kBlanks);
    return std::string(reply.substr(first, last - first + 1));
}

std::string ToUnixLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::optional<std::array<std::uint8_t, 4>> ParseDottedIpv4(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    std::size_t pos = 0;
    for (std::size_t part = 0; part < bytes.size(); ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') {
                return std::nullopt;
            }
            ++pos;
        }
        unsigned value = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (pos != text.size()) {
        return std::nullopt;
    }
    return bytes;
}

std::string Printable(std::string_view bytes, std::size_t maxLength) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (out.size() >= maxLength) {
            out += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

}  // namespace trevane::protocol
