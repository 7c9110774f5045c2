#include "evidence/EvidenceReader.h"
#include "evidence/EvidenceSource.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace morrow;
using namespace morrow::test;

namespace {

// A named pipe given as evidence used to block the open until some writer came along.
TEST(EvidenceTest, PipesAndFoldersAreRefusedWithoutWaiting) {
    TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe").c_str(), 0644), 0);
    std::string error;
    EXPECT_EQ(openEvidenceSource(tmp / "pipe", error), nullptr);
    EXPECT_EQ(openEvidenceSource(tmp.path(), error), nullptr);
    EXPECT_FALSE(error.empty());
    writeFile(tmp / "img", "abc");
    auto source = openEvidenceSource(tmp / "img", error);
    ASSERT_NE(source, nullptr);
    EvidenceReader ev(*source);
    unsigned char b[6];
    EXPECT_EQ(ev.readAt(1, b, 6), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 6), std::string("bc\0\0\0\0", 6));
    EXPECT_EQ(ev.readAt(-4, b, 2), 0u);
}

} // namespace
