// morrow-cli: carves evidence images from the command line with the same engine as the desktop
// application.
#include "BuildFeatures.h"
#include "CarveEngine.h"
#include "Console.h"
#include "ConsoleHost.h"
#include "MorrowVersion.h"
#include "base/Limits.h"
#include "base/Text.h"
#include "box/Worker.h"
#include "evidence/EvidenceSource.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <optional>
#include <sstream>
#include <string>

using namespace morrow;

namespace {

std::string usageText() {
    return std::string(
               "Usage: morrow-cli [options] EVIDENCE...\n"
               "Carves files of known kinds out of disk or partition images: raw (a file or a device), "
               "split\n"
               "raw (disk.001, disk.002, ... or disk.aa, disk.ab, ...: give the first) or E01 (disk.E01).\n"
               "\n"
               "  -o, --out DIR        carving path: one output folder per evidence file is made in it\n"
               "  -t, --types LIST     kinds to carve, comma-separated (default all):\n"
               "                       bmp gif jpeg tiff png psd cdoc pdf html zip video,\n"
               "                       pictures (bmp,gif,jpeg,png,psd,tiff) or all; also jpg, tif, doc, "
               "xls, ppt, htm,\n"
               "                       and avi, dat, mp4, mov, 3gp, wmv for video\n"
               "  -s, --max-size KB    maximum size for kinds whose length cannot be read (default ") +
           std::to_string(limits::defaultMaxFileSizeKB) + ",\n" + "                       " +
           std::to_string(limits::minMaxFileSizeKB) + " to " + std::to_string(limits::maxMaxFileSizeKB) +
           ")\n" +
           "  -x, --exact          exact file ends: every file ends where its own structure ends,\n"
           "                       not at the first footer or the maximum size\n"
           "      --fragments      exact file ends, and a file broken after a sound start (split by a\n"
           "                       file system) is carved in its pieces where its format proves the join\n"
           "                       (JPEG, PNG, GIF, ZIP)\n"
           "  -y, --yes            never ask: Stop and Quit are confirmed, the carving path is not opened\n"
           "  -q, --quiet          no progress line\n"
           "      --dfxml          also write STEM~Report.dfxml: every carved file with its MD5 and\n"
           "                       SHA-256, and the evidence's own, in Digital Forensics XML\n"
           "      --list           report only: find every file and write the report rows (and the\n"
           "                       DFXML, without file hashes), but write no carved file\n"
           "      --unallocated    carve only files whose first sector no file system allocates\n"
           "                       (deleted files, free space, space outside the partitions); the\n"
           "                       file systems found are named in the summary, and with --dfxml\n"
           "                       every carved file's owner in the file system, if it has one\n"
           "      --verify         check that every carved file opens: each is decoded by a library\n"
           "                       made for its format and found to open, damaged (with the first fault\n"
           "                       and where it is) or not checked; the verdicts go to the DFXML\n"
           "                       and to the table of kinds (opens and damaged columns)\n"
           "  -h, --help           this text\n"
           "      --version        the version\n"
           "\n"
           "Ctrl-C asks to stop the run, SIGTERM to quit; what was carved so far stays on disk.\n"
           "Exit status: 0 complete run, 1 partial run, 2 settings refused or bad options.\n";
}

int usageError(const std::string& text) {
    std::fprintf(stderr, "morrow-cli: %s\n%s", text.c_str(), "Try 'morrow-cli --help'.\n");
    return 2;
}

// After the summary: what the run carved (or found), kind by kind, and where it went.
// A run that checked its files adds how many of each kind open and how many are damaged (the
// rest were not checked).
void printTally(const RunResult& result, bool reportOnly, const std::vector<std::string>& rowsTicked) {
    std::int64_t files = 0;
    std::uint64_t bytes = 0;
    std::int64_t opens = 0;
    std::int64_t damaged = 0;
    auto verdicts = [&](std::int64_t o, std::int64_t d) {
        if (result.verified) {
            std::printf(" %8lld %8lld", static_cast<long long>(o), static_cast<long long>(d));
        }
        std::printf("\n");
    };
    std::printf("\n%-20s %10s %16s", reportOnly ? "Found" : "Carved", "files", "bytes");
    if (result.verified) {
        std::printf(" %8s %8s", "opens", "damaged");
    }
    std::printf("\n");
    for (std::size_t k = 0; k < result.perKind.size(); ++k) {
        const RunResult::Tally& t = result.perKind[k];
        const KindInfo& info = kindInfo(static_cast<FileTypeId>(k));
        const bool ticked =
            std::find(rowsTicked.begin(), rowsTicked.end(), std::string(info.rowText)) != rowsTicked.end();
        // Every kind asked for has its row, zero included.
        if (t.files > 0 || ticked) {
            std::printf("%-20s %10lld %16llu", info.tallyName, static_cast<long long>(t.files),
                        static_cast<unsigned long long>(t.bytes));
            verdicts(t.opens, t.damaged);
        }
        files += t.files;
        bytes += t.bytes;
        opens += t.opens;
        damaged += t.damaged;
    }
    std::printf("%-20s %10lld %16llu", "all kinds", static_cast<long long>(files),
                static_cast<unsigned long long>(bytes));
    verdicts(opens, damaged);
    if (result.embedded > 0) {
        std::printf("%lld embedded in other carved files\n", static_cast<long long>(result.embedded));
    }
    if (result.reassembled > 0) {
        std::printf("%lld reassembled from fragments\n", static_cast<long long>(result.reassembled));
    }
    for (const std::string& folder : result.outputFolders) {
        std::printf("Output folder: %s\n", folder.c_str());
    }
    std::fflush(stdout);
}

// The command line as a shell would take it back, for the DFXML report's creator.
std::string commandLine(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        const std::string word = argv[i];
        if (i > 0) {
            line += ' ';
        }
        if (!word.empty() &&
            word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                   "-_./=:,+@%") == std::string::npos) {
            line += word;
            continue;
        }
        line += '\'';
        for (char ch : word) {
            line += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
        }
        line += '\'';
    }
    return line;
}

} // namespace

int main(int argc, char** systemArgv) {
    console::keepStandardStreamsOpen();
    // Started again by itself to check files or read file systems: that and nothing else.
    box::serveIfAsked(argc, systemArgv);
    // getopt works on C strings; these are the arguments as UTF-8, as the engine takes paths.
    std::vector<std::string> arguments = console::arguments(argc, systemArgv);
    std::vector<char*> argvUtf8;
    for (std::string& argument : arguments) {
        argvUtf8.push_back(argument.data());
    }
    argvUtf8.push_back(nullptr);
    char** argv = argvUtf8.data();
    ConsoleOptions options;
    std::string types = "all";

    // Long options without a letter take values no character has, so that a mistyped letter
    // (optopt) is never taken for one of them.
    enum : int {
        versionOption = 0x100,
        dfxmlOption,
        listOption,
        unallocatedOption,
        fragmentsOption,
        verifyOption
    };
    static const char* const shortOptions = ":o:t:s:xyqh";
    static const option longOptions[] = {
        {"out", required_argument, nullptr, 'o'},
        {"types", required_argument, nullptr, 't'},
        {"max-size", required_argument, nullptr, 's'},
        {"yes", no_argument, nullptr, 'y'},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {"dfxml", no_argument, nullptr, dfxmlOption},
        {"list", no_argument, nullptr, listOption},
        {"exact", no_argument, nullptr, 'x'},
        {"unallocated", no_argument, nullptr, unallocatedOption},
        {"fragments", no_argument, nullptr, fragmentsOption},
        {"verify", no_argument, nullptr, verifyOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, shortOptions, longOptions, nullptr)) != -1) {
        switch (c) {
        case 'o':
            // The report records full paths, as the dialog's folder chooser gives them.
            options.carvingPath = console::absolutePath(optarg);
            break;
        case 't':
            types = optarg;
            break;
        case 's':
            if (const std::optional<std::int32_t> size = parseInteger(optarg)) {
                options.maxFileSizeKB = *size;
            } else {
                std::fprintf(stderr, "morrow-cli: Please enter an integer.\n");
                return 2;
            }
            break;
        case 'y':
            options.neverAsk = true;
            break;
        case 'q':
            options.quiet = true;
            break;
        case 'x':
            options.exactEnds = true;
            break;
        case fragmentsOption:
            options.exactEnds = true;
            options.reassembleFragments = true;
            break;
        case verifyOption:
            options.verifyFiles = true;
            break;
        case dfxmlOption:
            if (const char* why = dfxmlUnavailable()) {
                std::fprintf(stderr, "morrow-cli: --dfxml: %s\n", why);
                return 2;
            }
            options.writeDfxml = true;
            break;
        case listOption:
            options.reportOnly = true;
            break;
        case unallocatedOption:
            if (const char* why = unallocatedUnavailable()) {
                std::fprintf(stderr, "morrow-cli: --unallocated: %s\n", why);
                return 2;
            }
            options.unallocatedOnly = true;
            break;
        case 'h':
            std::fputs(usageText().c_str(), stdout);
            return 0;
        case versionOption:
            // The same lines as `morrow --version`: program, package and version, then the optional parts.
            std::printf("morrow-cli (Morrow) %s\n%s", MORROW_VERSION, buildFeatures().c_str());
            return 0;
        case ':':
            return usageError(std::string("option needs a value: ") + argv[optind - 1]);
        default:
            // A letter in a group (-dash) leaves optind on its word until the group's last one,
            // so the word before it is no option at all: name the letter. A long option, known
            // or not, has its own word.
            if (optopt > 0 && optopt < 0x100 && std::strchr(shortOptions + 1, optopt) == nullptr) {
                return usageError(std::string("unknown option: -") + static_cast<char>(optopt));
            }
            return usageError((optopt != 0 ? "option takes no value: " : "unknown option: ") +
                              std::string(argv[optind - 1]));
        }
    }
    for (int i = optind; i < argc; ++i) {
        options.evidence.emplace_back(argv[i]);
    }
    // morrow-cli's own words for its own options; the engine's (the dialog's) remain for what
    // only a run can tell.
    if (argc == 1) {
        std::fputs(usageText().c_str(), stderr);
        return 2;
    }
    if (options.evidence.empty()) {
        return usageError("no evidence file given: name at least one image after the options");
    }
    if (options.carvingPath.empty()) {
        return usageError(
            "-o DIR is required: the carving path, in which one output folder per evidence file "
            "is made");
    }
    if (options.maxFileSizeKB < limits::minMaxFileSizeKB ||
        options.maxFileSizeKB > limits::maxMaxFileSizeKB) {
        return usageError("-s: the maximum size is " + std::to_string(limits::minMaxFileSizeKB) + " to " +
                          std::to_string(limits::maxMaxFileSizeKB) + " KB, not " +
                          std::to_string(options.maxFileSizeKB));
    }

    std::stringstream list(types);
    std::string name;
    while (std::getline(list, name, ',')) {
        const std::vector<std::string> rows = rowsForWord(name);
        if (rows.empty()) {
            std::string words;
            for (const std::string& word : kindWords()) {
                words += (words.empty() ? "" : " ") + word;
            }
            return usageError("-t: unknown kind '" + name + "'; kinds are: " + words);
        }
        for (const std::string& row : rows) {
            if (std::find(options.kindRows.begin(), options.kindRows.end(), row) == options.kindRows.end()) {
                options.kindRows.push_back(row);
            }
        }
    }

    // Ctrl-C and SIGTERM are taken from here on: one that comes while the evidence is looked at
    // (an E01's tables can take a while) is answered at the run's first poll point.
    ConsoleHost::installSignalHandlers();
    // Evidence that cannot be read is refused before anything is created, so that a run never
    // stops half-way through the list over a name mistyped at the start. The same evidence twice,
    // under any two names, is refused as the dialog refuses to list it twice.
    std::vector<std::pair<std::string, std::optional<FileIdentity>>> seen;
    for (const std::string& path : options.evidence) {
        std::string error;
        if (!openEvidenceSource(path, error)) {
            console::print(stderr, "morrow-cli: Evidence file open failed: " + path + ": " + error + "\n");
            return 2;
        }
        const std::optional<FileIdentity> identity = fileIdentity(path);
        for (const auto& [earlier, earlierIdentity] : seen) {
            if (earlier == path || (identity && identity == earlierIdentity)) {
                console::print(stderr,
                               "morrow-cli: Evidence is already selected.: " + path +
                                   (earlier == path ? std::string() : " (the same file as " + earlier + ")") +
                                   "\n");
                return 2;
            }
        }
        seen.emplace_back(path, identity);
    }

    ConsoleHost host(options, "morrow-cli");
    CarveEngine engine(host);
    engine.state().programVersion = MORROW_VERSION;
    engine.state().invocation = commandLine(argc, argv);
    const RunResult result = engine.startRun();
    if (!options.quiet && result.end != RunResult::End::Refused) {
        printTally(result, options.reportOnly, options.kindRows);
    }

    switch (result.end) {
    case RunResult::End::Complete:
        return 0;
    case RunResult::End::Refused:
        return 2;
    default:
        return 1;
    }
}
