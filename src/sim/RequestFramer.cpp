#include "sim/RequestFramer.h"

namespace trevane::sim {

RequestFramer::RequestFramer(std::size_t maxLine) : maxLine_(maxLine) {}

void RequestFramer::Feed(std::string_view bytes, std::vector<Request>& requests) {
    while (!bytes.empty()) {
        const auto cr = bytes.find('\r');
        const std::string_view piece = bytes.substr(0, cr);
        if (!discarding_) {
            if (partial_.size() + piece.size() > maxLine_) {
                // Forget the line but remember it existed: its CR still earns one "?".
                discarding_ = true;
                partial_.clear();
                partial_.shrink_to_fit();
            } else {
                partial_.append(piece);
            }
        }
        if (cr == std::string_view::npos) {
            return;
        }
        Request request;
        request.tooLong = discarding_;
        request.line.swap(partial_);
        requests.push_back(std::move(request));
        discarding_ = false;
        bytes.remove_prefix(cr + 1);
    }
}

}  // namespace trevane::sim
