#include "viewer/option_table.hpp"

namespace stview {

bool OptionTable::isOptionLike(const char* text) {
    if (text == nullptr || text[0] != '-' || text[1] == '\0') return false;
    return !(text[1] >= '0' && text[1] <= '9');
}

int OptionTable::parse(int argc, const char* const* argv) {
    entries_.clear();
    std::string current;
    for (int i = 1; i < argc; ++i) {
        if (isOptionLike(argv[i])) {
            current = argv[i];
            std::vector<std::string> values;
            if (i + 1 < argc && !isOptionLike(argv[i + 1])) {
                ++i;
                if (argv[i][0] != '\0') values.emplace_back(argv[i]);
            }
            entries_.emplace(current, std::move(values));  // keeps an existing entry
        } else {
            const auto entry = entries_.find(current);
            if (entry != entries_.end()) entry->second.emplace_back(argv[i]);
        }
    }
    return static_cast<int>(entries_.size());
}

bool OptionTable::has(const char* name) const { return entries_.count(name) != 0; }

int OptionTable::count(const char* name) const {
    const auto entry = entries_.find(name);
    return entry == entries_.end() ? -1 : static_cast<int>(entry->second.size());
}

std::string OptionTable::get(const char* name, unsigned index) const {
    const auto entry = entries_.find(name);
    if (entry == entries_.end() || index >= entry->second.size()) throw 0;
    return entry->second[index];
}

std::string OptionTable::getOr(const char* name, unsigned index, const char* fallback) const {
    std::string result = fallback == nullptr ? "" : fallback;
    try {
        result = get(name, index);
    } catch (...) {
    }
    return result;
}

}  // namespace stview
