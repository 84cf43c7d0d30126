#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace trevane::sim {

// One request taken from the byte stream: its line without the CR, or the mark that the line
// outgrew the limit (its bytes were discarded up to the CR).
struct Request {
    std::string line;
    bool tooLong = false;
};

// Cuts a connection's byte stream into requests at each CR. Holds at most `maxLine` bytes of
// an unfinished line, whatever the peer sends.
class RequestFramer {
  public:
    explicit RequestFramer(std::size_t maxLine);

    // Appends the complete requests found in `bytes` to `requests`.
    void Feed(std::string_view bytes, std::vector<Request>& requests);
    std::size_t Buffered() const { return partial_.size(); }

  private:
    std::size_t maxLine_;
    std::string partial_;
    bool discarding_ = false;
};

}  // namespace trevane::sim
