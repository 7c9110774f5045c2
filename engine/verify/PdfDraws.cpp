// A PDF read far enough to count its form draws: objects found by their "N G obj" text (and in
// object streams when one is asked for that is not found so), dictionaries and arrays parsed,
// page and form content streams inflated and their operators counted. Every object is parsed
// once and every content stream summed once; all text lexed and all data inflated draw on
// budgets tied to the file's size, and a million values are kept at most: past them the count
// is not known.
#include "verify/PdfDraws.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morrow::pdf {

namespace {

bool space(int c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\f' || c == '\0';
}
bool delimiter(int c) {
    return c == '(' || c == ')' || c == '<' || c == '>' || c == '[' || c == ']' || c == '{' || c == '}' ||
           c == '/' || c == '%';
}
bool regular(int c) {
    return !space(c) && !delimiter(c);
}
bool digit(int c) {
    return c >= '0' && c <= '9';
}

// Text that lies somewhere: the file itself, or an object stream's inflated data.
struct Text {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
};

struct Value {
    enum class Kind { None, Number, Name, Ref, Array, Dict, Other };
    Kind kind = Kind::None;
    std::int64_t number = 0;
    std::uint64_t ref = 0; // the object number of a reference
    std::string name;
    std::vector<Value> items;                           // an array's
    std::vector<std::pair<std::string, Value>> entries; // a dictionary's

    const Value* get(const std::string& key) const {
        for (const auto& entry : entries) {
            if (entry.first == key) {
                return &entry.second;
            }
        }
        return nullptr;
    }
};

// An object parsed: its value and, for a stream, where its data starts.
struct Parsed {
    Value value;
    Text text;
    std::size_t streamAt = 0;
    bool stream = false;
};

// What a content stream asks for: its operators, and how often each name is drawn with Do.
struct Summary {
    std::uint64_t operators = 0;
    std::map<std::string, std::uint64_t> draws;
};

class Walker {
  public:
    Walker(check::Bytes file, std::uint64_t limit)
        : file_{file.data, file.size}, limit_(limit),
          lexBudget_(std::uint64_t{4} * file.size + (std::uint64_t{1} << 20)),
          inflateBudget_(std::max<std::uint64_t>(std::uint64_t{64} << 20, std::uint64_t{16} * file.size)) {
        indexObjects(file_, 0);
    }

    bool failed() const { return failed_; }

    // The catalog's page tree, page by page.
    Draws count(int maxPages) {
        Draws draws;
        const Parsed* root = object(rootNumber());
        const Value* pages = root != nullptr ? resolve(root->value.get("Pages")) : nullptr;
        if (pages == nullptr || pages->kind != Value::Kind::Dict) {
            return draws;
        }
        std::set<std::uint64_t> visited;
        int page = 0;
        walkPages(*pages, nullptr, 0, visited, page, maxPages, draws);
        draws.known = !failed_;
        return draws;
    }

  private:
    // The object holding the catalog: the last /Root the file names (its newest trailer, or its
    // cross-reference stream's dictionary).
    std::uint64_t rootNumber() {
        static const char key[] = "/Root";
        const unsigned char* end = file_.data + file_.size;
        const unsigned char* last = nullptr;
        for (const unsigned char* at = file_.data; at != nullptr && at + 5 <= end;) {
            at = static_cast<const unsigned char*>(std::memchr(at, '/', static_cast<std::size_t>(end - at)));
            if (at == nullptr || at + 5 > end) {
                break;
            }
            if (std::memcmp(at, key, 5) == 0 && (at + 5 == end || !regular(at[5]))) {
                last = at;
            }
            ++at;
        }
        if (last == nullptr) {
            return 0;
        }
        std::size_t at = static_cast<std::size_t>(last - file_.data) + 5;
        const Value root = parse(file_, at, 0);
        return root.kind == Value::Kind::Ref ? root.ref : 0;
    }

    // Every "N G obj" of `text` from `from`, each number's last one kept.
    void indexObjects(Text text, std::size_t from) {
        const unsigned char* d = text.data;
        for (std::size_t i = from; i + 3 <= text.size; ++i) {
            if (d[i] != 'o' || d[i + 1] != 'b' || d[i + 2] != 'j' ||
                (i + 3 < text.size && regular(d[i + 3]))) {
                continue;
            }
            // Back over the generation and the number, each after white space.
            std::size_t at = i;
            std::uint64_t number = 0;
            bool good = true;
            for (int field = 0; field < 2 && good; ++field) {
                std::size_t gap = 0;
                while (at > 0 && space(d[at - 1]) && gap < 8) {
                    --at;
                    ++gap;
                }
                std::size_t digits = 0;
                std::uint64_t value = 0;
                std::uint64_t scale = 1;
                while (at > 0 && digit(d[at - 1]) && digits < 10) {
                    --at;
                    value += static_cast<std::uint64_t>(d[at] - '0') * scale;
                    scale *= 10;
                    ++digits;
                }
                good = gap > 0 && digits > 0;
                number = value;
            }
            if (good && (at == 0 || !regular(d[at - 1]))) {
                where_[number] = {text, i + 3};
            }
        }
    }

    // The objects of every object stream, for a number not found as "N G obj": once.
    void indexObjectStreams() {
        if (streamsIndexed_) {
            return;
        }
        streamsIndexed_ = true;
        std::vector<std::uint64_t> numbers;
        for (const auto& [number, where] : where_) {
            if (where.first.data == file_.data) {
                numbers.push_back(number);
            }
        }
        for (const std::uint64_t number : numbers) {
            const Parsed* parsed = object(number);
            const Value* type = parsed != nullptr ? parsed->value.get("Type") : nullptr;
            if (type == nullptr || type->kind != Value::Kind::Name || type->name != "ObjStm" ||
                !parsed->stream) {
                continue;
            }
            const Value* count = parsed->value.get("N");
            const Value* first = resolve(parsed->value.get("First"));
            std::string data;
            if (count == nullptr || first == nullptr || first->kind != Value::Kind::Number ||
                first->number < 0 || !streamData(*parsed, data)) {
                continue;
            }
            kept_.push_back(std::move(data));
            const Text inner{reinterpret_cast<const unsigned char*>(kept_.back().data()),
                             kept_.back().size()};
            std::size_t at = 0;
            for (std::int64_t i = 0; i < count->number && !failed_; ++i) {
                const Value n = parse(inner, at, 1);
                const Value offset = parse(inner, at, 1);
                if (n.kind != Value::Kind::Number || offset.kind != Value::Kind::Number || n.number < 0 ||
                    offset.number < 0) {
                    break;
                }
                const auto start =
                    static_cast<std::uint64_t>(first->number) + static_cast<std::uint64_t>(offset.number);
                if (start < inner.size && where_.find(static_cast<std::uint64_t>(n.number)) == where_.end()) {
                    where_[static_cast<std::uint64_t>(n.number)] = {inner, static_cast<std::size_t>(start)};
                }
            }
        }
    }

    const Parsed* object(std::uint64_t number) {
        if (number == 0 || failed_) {
            return nullptr;
        }
        const auto done = parsed_.find(number);
        if (done != parsed_.end()) {
            return done->second.get();
        }
        auto where = where_.find(number);
        if (where == where_.end()) {
            indexObjectStreams();
            where = where_.find(number);
        }
        auto parsed = std::make_unique<Parsed>();
        if (where != where_.end()) {
            std::size_t at = where->second.second;
            parsed->text = where->second.first;
            parsed->value = parse(parsed->text, at, 0);
            skipSpace(parsed->text, at);
            if (parsed->value.kind == Value::Kind::Dict && keyword(parsed->text, at, "stream")) {
                at += 6;
                if (at < parsed->text.size && parsed->text.data[at] == '\r') {
                    ++at;
                }
                if (at < parsed->text.size && parsed->text.data[at] == '\n') {
                    ++at;
                }
                parsed->stream = true;
                parsed->streamAt = at;
            }
        }
        return parsed_.emplace(number, std::move(parsed)).first->second.get();
    }

    const Value* resolve(const Value* value) {
        if (value != nullptr && value->kind == Value::Kind::Ref) {
            const Parsed* target = object(value->ref);
            return target != nullptr ? &target->value : nullptr;
        }
        return value;
    }

    // Lexing ------------------------------------------------------------------------------------

    void skipSpace(Text text, std::size_t& at) {
        while (at < text.size) {
            if (space(text.data[at])) {
                ++at;
            } else if (text.data[at] == '%') {
                while (at < text.size && text.data[at] != '\n' && text.data[at] != '\r') {
                    ++at;
                }
            } else {
                break;
            }
        }
    }

    static bool keyword(Text text, std::size_t at, const char* word) {
        const std::size_t n = std::strlen(word);
        return at + n <= text.size && std::memcmp(text.data + at, word, n) == 0 &&
               (at + n == text.size || !regular(text.data[at + n]));
    }

    bool spend(std::uint64_t& budget, std::uint64_t amount) {
        if (amount > budget) {
            failed_ = true;
            budget = 0;
            return false;
        }
        budget -= amount;
        return true;
    }

    // White space and comments skipped, paid for from the budget.
    void skip(Text text, std::size_t& at) {
        const std::size_t from = at;
        skipSpace(text, at);
        spend(lexBudget_, at - from);
    }

    // One value at `at`, and `at` moved past it; every byte read is paid for, so that objects
    // that run into one another cost no more than the budget. Nesting deeper than 32 gives
    // nothing.
    Value parse(Text text, std::size_t& at, int depth) {
        Value value;
        skip(text, at);
        // Each value parsed is kept (a hundred bytes or so): a million of them at most.
        if (at >= text.size || depth > 32 || !spend(lexBudget_, 1) || !spend(valueBudget_, 1)) {
            return value;
        }
        const std::size_t start = at;
        const unsigned char* d = text.data;
        const int c = d[at];
        if (c == '/') {
            ++at;
            while (at < text.size && regular(d[at])) {
                ++at;
            }
            value.kind = Value::Kind::Name;
            value.name.assign(reinterpret_cast<const char*>(d + start + 1), at - start - 1);
        } else if (c == '<' && at + 1 < text.size && d[at + 1] == '<') {
            at += 2;
            value.kind = Value::Kind::Dict;
            for (;;) {
                skip(text, at);
                if (at >= text.size || failed_) {
                    break;
                }
                if (d[at] == '>') {
                    at += at + 1 < text.size && d[at + 1] == '>' ? 2 : 1;
                    break;
                }
                Value key = parse(text, at, depth + 1);
                if (key.kind != Value::Kind::Name) {
                    if (key.kind == Value::Kind::None) {
                        break;
                    }
                    continue;
                }
                value.entries.emplace_back(std::move(key.name), parse(text, at, depth + 1));
            }
        } else if (c == '[') {
            ++at;
            value.kind = Value::Kind::Array;
            for (;;) {
                skip(text, at);
                if (at >= text.size || failed_) {
                    break;
                }
                if (d[at] == ']') {
                    ++at;
                    break;
                }
                Value item = parse(text, at, depth + 1);
                if (item.kind == Value::Kind::None) {
                    break;
                }
                value.items.push_back(std::move(item));
            }
        } else if (c == '(') {
            value.kind = Value::Kind::Other;
            at = skipString(text, at);
        } else if (c == '<') {
            value.kind = Value::Kind::Other;
            while (at < text.size && d[at] != '>') {
                ++at;
            }
            at = std::min(at + 1, text.size);
        } else if (digit(c) || c == '-' || c == '+' || c == '.') {
            std::int64_t n = 0;
            bool integer = true;
            if (c == '-' || c == '+') {
                ++at;
            }
            while (at < text.size && regular(d[at])) {
                if (digit(d[at]) && n < (std::int64_t{1} << 48)) {
                    n = n * 10 + (d[at] - '0');
                } else if (!digit(d[at])) {
                    integer = false;
                }
                ++at;
            }
            value.kind = Value::Kind::Number;
            value.number = c == '-' ? -n : n;
            // "N G R": a reference.
            if (integer && c != '-' && c != '+' && at - start <= 10) {
                std::size_t ahead = at;
                skipSpace(text, ahead);
                const std::size_t generation = ahead;
                while (ahead < text.size && digit(d[ahead])) {
                    ++ahead;
                }
                if (ahead > generation && ahead - generation <= 5) {
                    skipSpace(text, ahead);
                    if (keyword(text, ahead, "R")) {
                        value.kind = Value::Kind::Ref;
                        value.ref = static_cast<std::uint64_t>(n);
                        at = ahead + 1;
                    }
                }
            }
        } else if (regular(c)) {
            while (at < text.size && regular(d[at])) {
                ++at;
            }
            value.kind = Value::Kind::Other; // true, false, null, or a keyword that ends the value
        } else {
            ++at; // a stray delimiter
            value.kind = Value::Kind::Other;
        }
        // The containers' bytes were paid for by their items.
        if (value.kind != Value::Kind::Dict && value.kind != Value::Kind::Array) {
            spend(lexBudget_, at - start);
        }
        return value;
    }

    // Past the string opened at `at`: balanced parentheses, escapes skipped.
    static std::size_t skipString(Text text, std::size_t at) {
        int depth = 0;
        for (; at < text.size; ++at) {
            const unsigned char c = text.data[at];
            if (c == '\\') {
                ++at;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                return at + 1;
            }
        }
        return text.size;
    }

    // Streams -----------------------------------------------------------------------------------

    // A stream's data, inflated when /FlateDecode: false for another filter or broken data.
    bool streamData(const Parsed& parsed, std::string& out) {
        const Text text = parsed.text;
        std::size_t length = 0;
        const Value* given = resolve(parsed.value.get("Length"));
        if (given != nullptr && given->kind == Value::Kind::Number && given->number >= 0 &&
            static_cast<std::uint64_t>(given->number) <= text.size - parsed.streamAt) {
            length = static_cast<std::size_t>(given->number);
        } else {
            // No length to trust: the data ends at "endstream".
            static const char end[] = "endstream";
            const auto* first = reinterpret_cast<const char*>(text.data + parsed.streamAt);
            const auto* last = reinterpret_cast<const char*>(text.data + text.size);
            const char* found = std::search(first, last, end, end + 9);
            length = static_cast<std::size_t>(found - first);
            if (!spend(lexBudget_, length)) {
                return false;
            }
        }
        const Value* filter = resolve(parsed.value.get("Filter"));
        if (filter != nullptr && filter->kind == Value::Kind::Array) {
            filter = filter->items.size() == 1 ? resolve(&filter->items[0])
                     : filter->items.empty()   ? nullptr
                                               : filter;
        }
        const unsigned char* data = text.data + parsed.streamAt;
        if (filter == nullptr) {
            if (!spend(inflateBudget_, length)) {
                return false;
            }
            out.assign(reinterpret_cast<const char*>(data), length);
            return true;
        }
        if (filter->kind != Value::Kind::Name || (filter->name != "FlateDecode" && filter->name != "Fl")) {
            return false;
        }
        return inflateData(data, length, out);
    }

    bool inflateData(const unsigned char* data, std::size_t length, std::string& out) {
        z_stream zs{};
        if (inflateInit(&zs) != Z_OK) {
            return false;
        }
        zs.next_in = const_cast<Bytef*>(data);
        zs.avail_in = static_cast<uInt>(std::min<std::size_t>(length, UINT32_MAX));
        unsigned char block[16384];
        int status = Z_OK;
        while (status == Z_OK) {
            zs.next_out = block;
            zs.avail_out = sizeof block;
            status = inflate(&zs, Z_NO_FLUSH);
            const std::size_t got = sizeof block - zs.avail_out;
            if (!spend(inflateBudget_, got)) {
                break;
            }
            out.append(reinterpret_cast<const char*>(block), got);
            if (status == Z_BUF_ERROR || got == 0) {
                break; // the data ends short of the stream's end: what came out is read
            }
        }
        inflateEnd(&zs);
        return !failed_;
    }

    // The operators of a content stream and the names it draws.
    void summarise(const std::string& content, Summary& summary) {
        const Text text{reinterpret_cast<const unsigned char*>(content.data()), content.size()};
        const unsigned char* d = text.data;
        std::string name;
        bool named = false;
        for (std::size_t at = 0;;) {
            skipSpace(text, at);
            if (at >= text.size) {
                break;
            }
            const unsigned char c = d[at];
            if (c == '(') {
                at = skipString(text, at);
                named = false;
            } else if (c == '<' && at + 1 < text.size && d[at + 1] == '<') {
                at += 2;
                named = false;
            } else if (c == '<') {
                while (at < text.size && d[at] != '>') {
                    ++at;
                }
                ++at;
                named = false;
            } else if (c == '/') {
                const std::size_t start = ++at;
                while (at < text.size && regular(d[at])) {
                    ++at;
                }
                name.assign(reinterpret_cast<const char*>(d + start), at - start);
                named = true;
            } else if (!regular(c)) {
                ++at; // ] [ { } > )
                named = false;
            } else {
                const std::size_t start = at;
                while (at < text.size && regular(d[at])) {
                    ++at;
                }
                if (digit(c) || c == '-' || c == '+' || c == '.') {
                    named = false;
                    continue;
                }
                const std::string_view word(reinterpret_cast<const char*>(d + start), at - start);
                if (word == "true" || word == "false" || word == "null") {
                    named = false;
                    continue; // an operand
                }
                const bool shows = word == "Tj" || word == "TJ" || word == "'" || word == "\"";
                summary.operators += shows ? textWeight : 1;
                if (word == "Do" && named) {
                    ++summary.draws[name];
                } else if (word == "BI") {
                    at = pastInlineImage(text, at);
                }
                named = false;
            }
        }
    }

    // Past an inline image's data: "ID", its bytes, then "EI" between white space.
    static std::size_t pastInlineImage(Text text, std::size_t at) {
        const unsigned char* d = text.data;
        for (; at + 2 <= text.size; ++at) {
            if (d[at] == 'I' && d[at + 1] == 'D' && (at == 0 || space(d[at - 1])) &&
                (at + 2 == text.size || space(d[at + 2]))) {
                break;
            }
        }
        for (at += 3; at + 2 <= text.size; ++at) {
            if (d[at] == 'E' && d[at + 1] == 'I' && space(d[at - 1]) &&
                (at + 2 == text.size || space(d[at + 2]))) {
                return at + 2;
            }
        }
        return text.size;
    }

    // The summary of the content of one stream object, or of a page's /Contents: once each.
    const Summary& contentOf(std::uint64_t number) {
        const auto done = summaries_.find(number);
        if (done != summaries_.end()) {
            return done->second;
        }
        Summary summary;
        const Parsed* parsed = object(number);
        std::string content;
        if (parsed != nullptr && parsed->stream && streamData(*parsed, content)) {
            summarise(content, summary);
        }
        return summaries_.emplace(number, std::move(summary)).first->second;
    }

    // Drawing -----------------------------------------------------------------------------------

    // The resource dictionary a content stream looks its names up in: parsed values never move,
    // so its address names it.
    using Scope = const Value*;

    Scope scopeOf(const Value& holder, Scope inherited) {
        const Value* resources = resolve(holder.get("Resources"));
        return resources != nullptr && resources->kind == Value::Kind::Dict ? resources : inherited;
    }

    // What drawing `summary` under `scope` runs in forms, each as often as it is drawn; saturates a
    // little past the limit.
    std::uint64_t drawsOf(const Summary& summary, Scope scope, int depth) {
        const Value* xobjects = scope != nullptr ? resolve(scope->get("XObject")) : nullptr;
        if (xobjects == nullptr || xobjects->kind != Value::Kind::Dict) {
            return 0;
        }
        const auto& names = namesOf(*xobjects);
        std::uint64_t total = 0;
        for (const auto& [name, times] : summary.draws) {
            const auto found = names.find(name);
            const Value* target = found != names.end() ? found->second : nullptr;
            if (!spend(lexBudget_, 1) || target == nullptr || target->kind != Value::Kind::Ref ||
                total > limit_) {
                continue;
            }
            const std::uint64_t one = formCost(target->ref, scope, depth + 1);
            total = saturated(total, one == 0 ? 0 : (one > limit_ / times + 1 ? limit_ + 1 : one * times));
        }
        return total;
    }

    // A dictionary's entries by name, made once for each /XObject dictionary: a content stream of
    // many names looked up in a dictionary of as many costs no more than both.
    const std::unordered_map<std::string, const Value*>& namesOf(const Value& dict) {
        const auto [at, fresh] = names_.try_emplace(&dict);
        if (fresh) {
            for (const auto& entry : dict.entries) {
                at->second.emplace(entry.first, &entry.second);
            }
        }
        return at->second;
    }

    // The operators a form runs when drawn once, with those of the forms it draws.
    std::uint64_t formCost(std::uint64_t number, Scope caller, int depth) {
        // A form that draws itself is stopped by the renderer; deeper nesting is not followed.
        if (depth > 64 || drawing_.count(number) != 0 || failed_) {
            return 0;
        }
        const Parsed* parsed = object(number);
        if (parsed == nullptr || !parsed->stream) {
            return 0;
        }
        const Value* subtype = parsed->value.get("Subtype");
        if (subtype == nullptr || subtype->kind != Value::Kind::Name || subtype->name != "Form") {
            return 0; // an image: drawn once, by its operator alone
        }
        const Scope scope = scopeOf(parsed->value, caller);
        const std::pair<std::uint64_t, Scope> key{number, scope};
        const auto done = costs_.find(key);
        if (done != costs_.end()) {
            return done->second;
        }
        drawing_.insert(number);
        const Summary& summary = contentOf(number);
        const std::uint64_t cost = saturated(summary.operators, drawsOf(summary, scope, depth));
        drawing_.erase(number);
        costs_[key] = cost;
        return cost;
    }

    std::uint64_t saturated(std::uint64_t a, std::uint64_t b) const {
        return a > limit_ || b > limit_ || a + b > limit_ ? limit_ + 1 : a + b;
    }

    void walkPages(const Value& node, const Value* inheritedResources, int depth,
                   std::set<std::uint64_t>& visited, int& page, int maxPages, Draws& draws) {
        const Value* own = node.get("Resources");
        const Value* resources = own != nullptr ? own : inheritedResources;
        const Value* kids = resolve(node.get("Kids"));
        if (kids == nullptr) {
            if (page >= maxPages || draws.page != 0) {
                return;
            }
            ++page;
            const Value* dict = resolve(resources);
            const Scope scope = dict != nullptr && dict->kind == Value::Kind::Dict ? dict : nullptr;
            const Value* contents = node.get("Contents");
            std::vector<std::uint64_t> streams;
            if (contents != nullptr && contents->kind == Value::Kind::Ref) {
                const Parsed* target = object(contents->ref);
                if (target != nullptr && target->value.kind == Value::Kind::Array) {
                    contents = &target->value;
                } else {
                    streams.push_back(contents->ref);
                }
            }
            if (contents != nullptr && contents->kind == Value::Kind::Array) {
                for (const Value& item : contents->items) {
                    if (item.kind == Value::Kind::Ref) {
                        streams.push_back(item.ref);
                    }
                }
            }
            for (const std::uint64_t stream : streams) {
                draws.formOperators = saturated(draws.formOperators, drawsOf(contentOf(stream), scope, 0));
            }
            if (draws.formOperators > limit_) {
                draws.page = page;
            }
            return;
        }
        if (kids->kind != Value::Kind::Array || depth > 64) {
            return;
        }
        for (const Value& kid : kids->items) {
            if (failed_ || page >= maxPages || draws.page != 0) {
                return;
            }
            if (kid.kind != Value::Kind::Ref || !visited.insert(kid.ref).second) {
                continue;
            }
            const Parsed* child = object(kid.ref);
            if (child != nullptr && child->value.kind == Value::Kind::Dict) {
                walkPages(child->value, resources, depth + 1, visited, page, maxPages, draws);
            }
        }
    }

    Text file_;
    std::uint64_t limit_;
    std::uint64_t lexBudget_;
    std::uint64_t inflateBudget_;
    std::uint64_t valueBudget_ = 1'000'000;
    bool failed_ = false;
    bool streamsIndexed_ = false;
    std::unordered_map<std::uint64_t, std::pair<Text, std::size_t>> where_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Parsed>> parsed_;
    std::unordered_map<std::uint64_t, Summary> summaries_;
    std::map<std::pair<std::uint64_t, Scope>, std::uint64_t> costs_;
    std::set<std::uint64_t> drawing_;
    std::unordered_map<const Value*, std::unordered_map<std::string, const Value*>> names_;
    std::deque<std::string> kept_;
};

} // namespace

Draws countDraws(check::Bytes file, std::uint64_t limit, int maxPages) {
    if (file.data == nullptr || file.size == 0) {
        return {};
    }
    Walker walker(file, limit);
    return walker.count(maxPages);
}

} // namespace morrow::pdf
