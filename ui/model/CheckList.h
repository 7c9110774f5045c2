#pragma once

#include <functional>
#include <string>
#include <vector>

namespace morrow {

// A list of texts with a tick box each, kept in ascending order as the dialog's two lists are: a
// new row goes where the order puts it. The evidence list and the kind list are both one.
class CheckList {
  public:
    // True when text `a` goes before `b`.
    using Order = std::function<bool(const std::string& a, const std::string& b)>;

    struct Row {
        std::string text;
        bool ticked = false;
    };

    // The order of a toolkit's own lists, or else letter case ignored first (so "disk" sorts
    // beside "Disk"), then exact, so the order is stable.
    void setOrder(Order order) { order_ = std::move(order); }
    static bool caseBlindFirst(const std::string& a, const std::string& b);

    // Inserts an unticked row after every row that does not go after it; returns its index.
    int insert(const std::string& text);
    // The index of the row holding exactly `text`, or -1.
    int find(const std::string& text) const;

    void setTicked(int row, bool ticked);
    void setAllTicked(bool ticked);
    bool anyTicked() const;
    // Takes the ticked rows out; returns their indexes from the last to the first.
    std::vector<int> removeTicked();

    const std::vector<Row>& rows() const { return rows_; }
    int size() const { return static_cast<int>(rows_.size()); }
    std::vector<std::string> texts() const;
    std::vector<std::string> tickedTexts() const;

  private:
    std::vector<Row> rows_;
    Order order_ = caseBlindFirst;
};

} // namespace morrow
