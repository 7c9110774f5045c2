#include "Catalog.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

using namespace morrow;

namespace {

const std::string distFolder = std::string(MORROW_TEST_DATA) + "/../../dist/";

// The bold words of a man page's lines from `from` to the ".RE" after it: the names of a list.
std::set<std::string> boldWords(const std::string& page, const std::string& from) {
    std::set<std::string> words;
    std::istringstream lines(page.substr(page.find(from)));
    std::string line;
    while (std::getline(lines, line) && line != ".RE") {
        const bool alternating = line.rfind(".BR ", 0) == 0;
        if (!alternating && line.rfind(".B ", 0) != 0) {
            continue;
        }
        // Arguments, quoted ones whole; .BR sets every other one in bold, from the first.
        std::vector<std::string> args;
        std::istringstream in(line.substr(line.find(' ') + 1));
        for (std::string arg; in >> std::ws && !in.eof();) {
            if (in.peek() == '"') {
                in.get();
                std::getline(in, arg, '"');
            } else {
                in >> arg;
            }
            args.push_back(arg);
        }
        for (std::size_t i = 0; i < args.size(); i += alternating ? 2 : 1) {
            words.insert(args[i]);
        }
    }
    return words;
}

// The man page and the bash completion offer exactly the words morrow-cli takes for -t.
TEST(CatalogTest, ManPageAndCompletionListTheTablesWords) {
    const std::vector<std::string> table = kindWords();
    const std::set<std::string> words(table.begin(), table.end());
    ASSERT_EQ(words.size(), table.size()) << "a word names two kinds";

    EXPECT_EQ(boldWords(test::readFile(distFolder + "man/morrow-cli.1"), ".BI \\-t "), words);

    const std::string completion = test::readFile(distFolder + "morrow-cli.bash-completion");
    const std::size_t at = completion.find("local kinds='") + 13;
    std::istringstream list(completion.substr(at, completion.find('\'', at) - at));
    std::set<std::string> offered;
    for (std::string word; list >> word;) {
        offered.insert(word);
    }
    EXPECT_EQ(offered, words);
}

TEST(CatalogTest, EveryWordTicksItsKindsRow) {
    for (const KindInfo& kind : kindTable()) {
        for (const char* word : kind.words) {
            if (word != nullptr) {
                EXPECT_EQ(rowsForWord(word), std::vector<std::string>{kind.rowText}) << word;
            }
        }
    }
    EXPECT_EQ(rowsForWord("pictures"), (std::vector<std::string>{"BMP Files", "GIF Files", "JPEG Files",
                                                                 "PNG Files", "PSD Files", "TIFF Files"}));
    EXPECT_EQ(rowsForWord("all"), kindRowNames());
    EXPECT_EQ(kindRowNames().size(), 11u);
    EXPECT_TRUE(rowsForWord("JPEG").empty());
    EXPECT_TRUE(rowsForWord("").empty());
}

} // namespace
