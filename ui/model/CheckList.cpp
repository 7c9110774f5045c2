#include "CheckList.h"

#include <algorithm>
#include <cctype>

namespace morrow {

bool CheckList::caseBlindFirst(const std::string& a, const std::string& b) {
    const auto lower = [](unsigned char c) { return std::tolower(c); };
    const auto blindLess = [&](unsigned char x, unsigned char y) { return lower(x) < lower(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), blindLess)) {
        return true;
    }
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), blindLess)) {
        return false;
    }
    return a < b;
}

int CheckList::insert(const std::string& text) {
    int row = 0;
    while (row < size() && !order_(text, rows_[static_cast<std::size_t>(row)].text)) {
        ++row;
    }
    rows_.insert(rows_.begin() + row, Row{text, false});
    return row;
}

int CheckList::find(const std::string& text) const {
    for (int i = 0; i < size(); ++i) {
        if (rows_[static_cast<std::size_t>(i)].text == text) {
            return i;
        }
    }
    return -1;
}

void CheckList::setTicked(int row, bool ticked) {
    if (row >= 0 && row < size()) {
        rows_[static_cast<std::size_t>(row)].ticked = ticked;
    }
}

void CheckList::setAllTicked(bool ticked) {
    for (Row& row : rows_) {
        row.ticked = ticked;
    }
}

bool CheckList::anyTicked() const {
    return std::any_of(rows_.begin(), rows_.end(), [](const Row& row) { return row.ticked; });
}

std::vector<int> CheckList::removeTicked() {
    std::vector<int> removed;
    for (int i = size() - 1; i >= 0; --i) {
        if (rows_[static_cast<std::size_t>(i)].ticked) {
            rows_.erase(rows_.begin() + i);
            removed.push_back(i);
        }
    }
    return removed;
}

std::vector<std::string> CheckList::texts() const {
    std::vector<std::string> out;
    for (const Row& row : rows_) {
        out.push_back(row.text);
    }
    return out;
}

std::vector<std::string> CheckList::tickedTexts() const {
    std::vector<std::string> out;
    for (const Row& row : rows_) {
        if (row.ticked) {
            out.push_back(row.text);
        }
    }
    return out;
}

} // namespace morrow
