// The check of each kind on a fixture whole, cut and altered: the whole one opens, the others are
// damaged with a fault that says where; hostile headers are refused without a crash.
#include "TestSupport.h"

#include "verify/CheckQueue.h"
#include "verify/DecoderChecks.h"
#include "verify/FileCheck.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>

using namespace morrow;

namespace {

using State = FileVerdict::State;

FileVerdict checkBytes(const std::string& bytes, FileTypeId type) {
    return FileCheck::check(check::Bytes{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()},
                            type);
}

std::uint32_t readLe(const std::string& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::string xorAt(std::string bytes, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count && i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    }
    return bytes;
}

struct CheckRow {
    const char* name;
    const char* fixture;
    FileTypeId type;
    bool decoder; // checked only by a build with the format libraries
    // The altered copy: what a damaged sector or a forged field does to the file.
    std::function<std::string(const std::string&)> alter;
    const char* alteredFault; // a regular expression the fault matches
};

class FileCheckTest : public ::testing::TestWithParam<CheckRow> {};

TEST_P(FileCheckTest, WholeOpensCutAndAlteredAreDamagedSayingWhere) {
    const CheckRow& row = GetParam();
    const std::string whole = test::fixture(row.fixture);
    if (row.decoder && !decoder::builtIn()) {
        EXPECT_EQ(checkBytes(whole, row.type).state, State::NotChecked);
        return;
    }
    const FileVerdict opens = checkBytes(whole, row.type);
    EXPECT_EQ(opens.state, State::Opens) << opens.fault;
    EXPECT_TRUE(opens.fault.empty());

    const FileVerdict cut = checkBytes(whole.substr(0, whole.size() * 6 / 10), row.type);
    EXPECT_EQ(cut.state, State::Damaged);
    EXPECT_TRUE(std::regex_search(cut.fault, std::regex("byte [0-9]+|[0-9]+ %|sector [0-9]+|scan [0-9]+")))
        << cut.fault;

    const FileVerdict altered = checkBytes(row.alter(whole), row.type);
    EXPECT_EQ(altered.state, State::Damaged);
    EXPECT_TRUE(std::regex_search(altered.fault, std::regex(row.alteredFault))) << altered.fault;
}

// Where each kind's altered copy is altered: in its coded data where a decoder sees it, in a
// structure where the format has nothing else to check.
INSTANTIATE_TEST_SUITE_P(Kinds, FileCheckTest,
                         ::testing::
                             Values(
                                 CheckRow{"Jpeg", "photo-jfif.jpg", kind::Jpeg, true,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 64); },
                                          "^JPEG data at byte [0-9]+: Corrupt"},
                                 CheckRow{"JpegProgressive", "photo-progressive.jpg", kind::Jpeg, true,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 64); },
                                          "^JPEG data at byte [0-9]+"},
                                 CheckRow{"Png", "image-large.png", kind::Png, true,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 1); },
                                          "^PNG chunk IDAT at byte [0-9]+: CRC mismatch$"},
                                 CheckRow{"Gif", "image89a.gif", kind::Gif, true,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 64); },
                                          "^GIF image 1 at [0-9]+ % of its lines"},
                                 CheckRow{"Tiff", "pages.tif", kind::Tiff, true,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 64); },
                                          "^TIFF "},
                                 CheckRow{"Pdf", "plain.pdf", kind::Pdf, true,
                                          [](const std::string& f) { return xorAt(f, f.rfind("xref"), 40); },
                                          "^PDF"},
                                 CheckRow{"Zip", "doc.docx", kind::Zip, false,
                                          [](const std::string& f) { return xorAt(f, f.size() / 2, 64); },
                                          "^ZIP member [^ ]+: its deflate data is corrupt [0-9]+ bytes in$"},
                                 CheckRow{"ZipStored", "two-stored.zip", kind::Zip, false,
                                          [](const std::string& f) {
                                              return xorAt(f, 30 + readLe(f, 26, 2) + readLe(f, 28, 2), 1);
                                          },
                                          "^ZIP member [^ ]+: CRC-32 mismatch$"},
                                 CheckRow{"CompoundDoc", "doc.doc", kind::CompoundDoc, false,
                                          // The allocation table's first sector, named in the header, is
                                          // overwritten.
                                          [](const std::string& f) {
                                              const std::size_t table = (readLe(f, 76, 4) + 1) * 512;
                                              return f.substr(0, table) + std::string(512, '\xFF') +
                                                     f.substr(table + 512);
                                          },
                                          "^compound document (directory|stream '[^']*'): sector [0-9]+"},
                                 CheckRow{"BmpRle", "bitmap-rle8.bmp", kind::Bmp, false,
                                          // Runs of 255 pixels from the first: wider than the picture.
                                          [](const std::string& f) {
                                              std::string altered = f;
                                              altered.replace(readLe(f, 10, 4), 4, "\xFF\x01\xFF\x01");
                                              return altered;
                                          },
                                          "^BMP RLE code at byte [0-9]+ draws outside the picture$"},
                                 CheckRow{"Bmp", "bitmap40.bmp", kind::Bmp, false,
                                          [](const std::string& f) { return xorAt(f, 28, 1); },
                                          "^BMP info header: [0-9]+ bits per pixel$"},
                                 CheckRow{"Psd", "image.psd", kind::Psd, false,
                                          // Its image resources' length: far past the end of the file.
                                          [](const std::string& f) { return xorAt(f, 30, 1); },
                                          "^PSD image resources at byte 30 runs past the end of the file$"},
                                 CheckRow{"Movie", "clip.mp4", kind::VideoQuickTime, false,
                                          [](const std::string& f) {
                                              // The chunk offsets point 1 MiB further: samples past the
                                              // file's end.
                                              std::string altered = f;
                                              const std::size_t stco = f.find("stco");
                                              altered[stco + 13] = static_cast<char>(altered[stco + 13] + 16);
                                              return altered;
                                          },
                                          "^movie track 1: chunk 1 at byte [0-9]+ runs past the end of the "
                                          "file by [0-9]+ bytes$"}),
                         [](const ::testing::TestParamInfo<CheckRow>& row) {
                             return std::string(row.param.name);
                         });

// A PNG written by the test: its rows (a filter-type byte, then the pixels) stored in one zlib
// stream, pass by pass when interlaced. The passes are found from the interlace pattern itself, as
// the format draws it, not from a formula.
std::string crafted(std::uint32_t width, std::uint32_t height, int depth, int colour, bool interlaced,
                    const std::function<void(std::string&)>& alterRows, bool staleAdler = false) {
    static const char pattern[8][9] = {"16462646", "77777777", "56565656", "77777777",
                                       "36463646", "77777777", "56565656", "77777777"};
    const int channels = colour == 2 ? 3 : colour == 6 ? 4 : colour == 4 ? 2 : 1;
    std::string rows;
    for (char pass = '1'; pass <= (interlaced ? '7' : '1'); ++pass) {
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint32_t pixels = 0;
            for (std::uint32_t x = 0; x < width; ++x) {
                pixels += !interlaced || pattern[y % 8][x % 8] == pass ? 1 : 0;
            }
            if (pixels > 0) {
                rows += static_cast<char>(y % 5);
                rows += std::string((pixels * static_cast<std::uint32_t>(channels * depth) + 7) / 8, '\x42');
            }
        }
    }
    const std::string intact = rows;
    alterRows(rows);
    auto crc = [](const std::string& bytes) {
        std::uint32_t c = 0xFFFFFFFF;
        for (const char b : bytes) {
            c ^= static_cast<unsigned char>(b);
            for (int k = 0; k < 8; ++k) {
                c = c & 1 ? 0xEDB88320 ^ (c >> 1) : c >> 1;
            }
        }
        return ~c;
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        return test::be32(static_cast<std::uint32_t>(data.size())) + type + data +
               test::be32(crc(type + data));
    };
    std::uint32_t a = 1, b = 0;
    for (const char byte : staleAdler ? intact : rows) {
        a = (a + static_cast<unsigned char>(byte)) % 65521;
        b = (b + a) % 65521;
    }
    std::string zlib = "\x78\x01";
    for (std::size_t at = 0; at == 0 || at < rows.size(); at += 65535) {
        const auto n = static_cast<std::uint16_t>(std::min<std::size_t>(65535, rows.size() - at));
        zlib += (at + n >= rows.size() ? '\x01' : '\x00') + test::le16(n) +
                test::le16(static_cast<std::uint16_t>(~n)) + rows.substr(at, n);
    }
    zlib += test::be32(b << 16 | a);
    std::string header = test::be32(width) + test::be32(height);
    header += {static_cast<char>(depth), static_cast<char>(colour), 0, 0, static_cast<char>(interlaced)};
    return "\x89PNG\r\n\x1A\n" + chunk("IHDR", header) +
           (colour == 3 ? chunk("PLTE", std::string(6, '\x10')) : std::string()) + chunk("IDAT", zlib) +
           chunk("IEND", "");
}

// The image data is inflated to its end and every row's filter type read: a file whose chunks are
// all sound but whose data is short, or names a filter that does not exist, is damaged.
TEST(FileCheckTest, PngImageDataIsReadRowByRowPassByPass) {
    if (!decoder::builtIn()) {
        GTEST_SKIP() << "no format libraries";
    }
    struct Shape {
        std::uint32_t width, height;
        int depth, colour;
        bool interlaced;
    };
    const auto keep = [](std::string&) {};
    for (const Shape& p : {Shape{1, 1, 8, 0, false}, Shape{13, 7, 8, 2, true}, Shape{9, 17, 1, 3, true},
                           Shape{3, 2, 16, 6, true}, Shape{1, 9, 4, 0, true}, Shape{70, 3, 2, 0, false}}) {
        const std::string name = std::to_string(p.width) + "x" + std::to_string(p.height) + " colour " +
                                 std::to_string(p.colour) + (p.interlaced ? " interlaced" : "");
        const FileVerdict whole =
            checkBytes(crafted(p.width, p.height, p.depth, p.colour, p.interlaced, keep), kind::Png);
        EXPECT_EQ(whole.state, State::Opens) << name << ": " << whole.fault;
        const FileVerdict filter = checkBytes(
            crafted(p.width, p.height, p.depth, p.colour, p.interlaced, [](std::string& r) { r[0] = 5; }),
            kind::Png);
        EXPECT_EQ(filter.fault, "PNG image data breaks at 0 % of the picture: bad adaptive filter value")
            << name;
        const FileVerdict shortOne = checkBytes(
            crafted(p.width, p.height, p.depth, p.colour, p.interlaced, [](std::string& r) { r.pop_back(); }),
            kind::Png);
        EXPECT_EQ(shortOne.state, State::Damaged) << name;
        EXPECT_NE(shortOne.fault.find("Not enough image data"), std::string::npos)
            << name << ": " << shortOne.fault;
        const FileVerdict altered = checkBytes(crafted(
                                                   p.width, p.height, p.depth, p.colour, p.interlaced,
                                                   [](std::string& r) { r.back() ^= 1; }, true),
                                               kind::Png);
        EXPECT_EQ(altered.fault, "PNG: IDAT: incorrect data check") << name;
    }
}

// Hostile files: dimensions that would take gigabytes are not decoded, nonsense is damaged, and
// nothing crashes or hangs.
TEST(FileCheckHostileTest, ForgedHeadersAreRefusedWithoutACrash) {
    // A JPEG claiming 65000 by 65000 pixels: not checked, nothing allocated for it.
    std::string jpeg = test::fixture("photo-jfif.jpg");
    const std::size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 6] = jpeg[sof + 7] = jpeg[sof + 8] = '\xFD';
    if (decoder::builtIn()) {
        EXPECT_EQ(checkBytes(jpeg, kind::Jpeg).state, State::NotChecked);
    }
    // A BMP of 60000 by 60000 pixels, and one of 0 by 1.
    std::string bmp = test::fixture("bitmap40.bmp");
    bmp.replace(18, 8, test::le32(60000) + test::le32(60000));
    EXPECT_EQ(checkBytes(bmp, kind::Bmp).state, State::NotChecked);
    bmp.replace(18, 8, test::le32(0) + test::le32(1));
    EXPECT_EQ(checkBytes(bmp, kind::Bmp).state, State::Damaged);
    // A compound document whose allocation table list claims every sector there could be.
    std::string doc = test::fixture("doc.doc");
    doc.replace(44, 4, test::le32(0x7FFFFFFF));
    EXPECT_EQ(checkBytes(doc, kind::CompoundDoc).state, State::Damaged);
    // Every kind on random bytes, empty input and a lone signature.
    for (FileTypeId type = 0; type < kind::count; ++type) {
        for (const std::string& bytes :
             {test::randomBytes(4096, 3), std::string(), std::string("\x89PNG\r\n\x1A\n"),
              std::string("PK\x05\x06") + std::string(18, '\xFF')}) {
            EXPECT_NE(checkBytes(bytes, type).state, State::Opens) << type;
        }
    }
}

// Verdicts come back in the order the files went in, with or without the worker thread, and
// drain waits for every one.
TEST(CheckQueueTest, EveryFileGetsItsVerdictInOrder) {
    for (const bool worker : {true, false}) {
        CheckQueue queue(worker, 2, [](const CarvedFile& file) {
            return file.number % 2 == 0 ? check::opens()
                                        : check::damaged("odd " + std::to_string(file.number));
        });
        std::vector<CheckedFile> all;
        for (int i = 0; i < 50; ++i) {
            CarvedFile file;
            file.number = i;
            queue.submit(file, static_cast<std::uint64_t>(100 + i));
            for (CheckedFile& done : queue.takeDone()) {
                all.push_back(std::move(done));
            }
        }
        for (CheckedFile& done : queue.drain()) {
            all.push_back(std::move(done));
        }
        ASSERT_EQ(all.size(), 50u);
        for (int i = 0; i < 50; ++i) {
            EXPECT_EQ(all[static_cast<std::size_t>(i)].file.number, i);
            EXPECT_EQ(all[static_cast<std::size_t>(i)].tag, static_cast<std::uint64_t>(100 + i));
            EXPECT_EQ(all[static_cast<std::size_t>(i)].verdict.state,
                      i % 2 == 0 ? State::Opens : State::Damaged);
        }
    }
}

// A run that ends early drains without waiting for the checks not begun: the file in the worker's
// hands is finished, every other one still gets its verdict, "not checked", in order.
TEST(CheckQueueTest, DrainOfARunEndingEarlySkipsTheWaitingChecks) {
    std::mutex lock;
    std::condition_variable changed;
    bool started = false;
    bool released = false;
    std::atomic<int> checked{0};
    CheckQueue queue(true, 64, [&](const CarvedFile&) {
        std::unique_lock<std::mutex> hold(lock);
        started = true;
        changed.notify_all();
        changed.wait(hold, [&] { return released; });
        ++checked;
        return check::opens();
    });
    for (int i = 0; i < 10; ++i) {
        CarvedFile file;
        file.number = i;
        queue.submit(file, static_cast<std::uint64_t>(i));
    }
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return started; });
    }
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::lock_guard<std::mutex> hold(lock);
        released = true;
        changed.notify_all();
    });
    const std::vector<CheckedFile> all = queue.drain(true);
    release.join();
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(checked.load(), 1);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(all[static_cast<std::size_t>(i)].file.number, i);
        EXPECT_EQ(all[static_cast<std::size_t>(i)].verdict.state, i == 0 ? State::Opens : State::NotChecked);
    }
}

} // namespace
