// A whole run over a fuzzed evidence image: the header scan and every carver, all kinds ticked,
// the smallest maximum size, into a temporary carving path that is emptied after every input.
#include "CarveEngine.h"
#include "FuzzSupport.h"
#include "output/Output.h"

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace morrow;
namespace fs = std::filesystem;

namespace {

const char* const allRows[] = {"BMP Files",  "Compound Doc Files", "GIF Files", "HTML Files",
                               "JPEG Files", "PDF Files",          "PNG Files", "PSD Files",
                               "TIFF Files", "Video Files",        "ZIP Files"};

const char* const noFreeSpace =
    "No free space availabe on the destination drive.\nCarving can't be continued.";

std::size_t countRows(const std::string& report) {
    std::size_t rows = 0;
    for (std::size_t at = report.find("\r\n"); at != std::string::npos; at = report.find("\r\n", at + 2)) {
        ++rows;
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputFile& input = fuzz::inputFile();
    input.write(data, size);

    // One engine for every input, as the desktop keeps one for every run.
    static fuzz::QuietHost host;
    static CarveEngine engine(host);
    const std::string carvingPath = input.folder() + "/out";
    host.maxFileSizeKB = 1;
    host.carvingPath = carvingPath;
    host.evidence = {input.path()};
    host.kinds.clear();
    for (const char* row : allRows) {
        host.kinds.push_back(KindRow{row, true});
    }
    host.lastSummary.clear();
    host.messages.clear();
    const RunResult result = engine.startRun();
    // A stated length is tested against the free space before it is clipped at the end of the
    // evidence, so a length claiming more than the volume holds ends the run: the only way a run
    // over any bytes may end early.
    const bool complete = host.lastSummary.rfind("Carving Completed Successfully.", 0) == 0;
    const bool full = host.messages.size() == 2 && host.messages[0] == noFreeSpace &&
                      host.lastSummary.rfind("Carving Completed Partially.", 0) == 0;
    fuzz::check(complete ? host.messages.size() == 1 : full, "the run did not complete");
    fuzz::check(complete == (result.end == RunResult::End::Complete),
                "the result disagrees with the summary");

    // Every file in the output folder has its row and nothing else is there.
    const std::string folder = carvingPath + "/input";
    std::size_t files = 0;
    std::string report;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename() == "input~Report.xls") {
            std::ifstream in(entry.path(), std::ios::binary);
            report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else {
            ++files;
        }
    }
    fuzz::check(report.rfind(Output::reportHeader(), 0) == 0, "the report lost its header line");
    fuzz::check(countRows(report) == files, "carved files and report rows differ");
    fuzz::check(static_cast<std::size_t>(engine.state().filesCarvedTotal) == files, "the count is wrong");
    std::error_code ec;
    fs::remove_all(carvingPath, ec);
    return 0;
}
