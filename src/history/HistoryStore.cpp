#include "history/HistoryStore.h"

#include <cctype>
#include <chrono>

#include "common/CLocale.h"

namespace trevane::history {

void SplitConnectionText(const std::string& text, std::string& address, int& port,
                         std::string& identity) {
    const std::size_t blank = text.find(' ');
    const std::string endpoint = text.substr(0, blank);
    identity = blank == std::string::npos ? std::string() : text.substr(blank + 1);
    const std::size_t colon = endpoint.rfind(':');
    address = endpoint.substr(0, colon);
    port = 0;
    if (colon != std::string::npos) {
        port = static_cast<int>(ReadNumber(endpoint.substr(colon + 1)));
    }
}

std::string CheckSinceDate(const std::string& text) {
    const auto digits = [&](std::size_t from, std::size_t count) {
        for (std::size_t i = from; i < from + count; ++i) {
            if (std::isdigit(static_cast<unsigned char>(text[i])) == 0) {
                return false;
            }
        }
        return true;
    };
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !digits(0, 4) || !digits(5, 2) ||
        !digits(8, 2)) {
        return "is not a date as YYYY-MM-DD";
    }
    const std::chrono::year_month_day date{
        std::chrono::year(std::stoi(text.substr(0, 4))),
        std::chrono::month(static_cast<unsigned>(std::stoi(text.substr(5, 2)))),
        std::chrono::day(static_cast<unsigned>(std::stoi(text.substr(8, 2))))};
    return date.ok() ? std::string() : "is not a day of the calendar";
}

}  // namespace trevane::history
