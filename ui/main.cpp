// morrow: the desktop application. It lives exactly as long as its one dialog. Evidence files named
// on the command line, as a file manager's "Open with" passes them, are listed at start-up.
#include "BuildFeatures.h"
#include "GalleryWindow.h"
#include "MainDialog.h"
#include "MorrowVersion.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const usageText =
    "Usage: morrow [options] [EVIDENCE...]\n"
    "Opens Morrow's dialog, which carves files of known kinds out of disk or partition images\n"
    "(raw, split raw or E01).\n"
    "The evidence files named here are put in its evidence list.\n"
    "\n"
    "  -h, --help       this text\n"
    "      --version    the version\n"
    "  --               what follows is evidence, even when it starts with '-'\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken as well. morrow-cli carves without a window.\n";

enum class EarlyAnswer { None, Help, Version };

// --help and --version are answered before the window system is reached, so that they work
// without a display, as over ssh or in a package check.
EarlyAnswer earlyAnswer(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            break;
        }
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            return EarlyAnswer::Help;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            return EarlyAnswer::Version;
        }
    }
    return EarlyAnswer::None;
}

} // namespace

int main(int argc, char** argv) {
    // Started again by itself to check files, read file systems or draw the gallery's thumbnails:
    // that and nothing else.
    morrow::serveWorkersIfAsked(argc, argv);
    switch (earlyAnswer(argc, argv)) {
    case EarlyAnswer::Help: {
        // Where the Help button will look, so that a missing guide can be told apart from a bad
        // install without a display.
        QCoreApplication core(argc, argv);
        const QString guide = morrow::MainDialog::findHelpGuide(QCoreApplication::applicationDirPath());
        std::fputs(usageText, stdout);
        std::printf("\nUser guide: %s%s\n", qPrintable(guide), QFileInfo(guide).isFile() ? "" : " (missing)");
        return 0;
    }
    case EarlyAnswer::Version:
        // The same lines as `morrow-cli --version`: program, package and version, then the
        // optional parts.
        std::printf("morrow (Morrow) %s\n%s", MORROW_VERSION, morrow::buildFeatures().c_str());
        return 0;
    case EarlyAnswer::None:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationVersion(MORROW_VERSION);
    // Qt has taken its own options out of the arguments by now; whatever option is left is unknown.
    const QStringList arguments = QCoreApplication::arguments();
    QStringList evidence;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && argument.startsWith('-') && argument.size() > 1) {
            std::fprintf(stderr, "morrow: unknown option: %s\nTry 'morrow --help'.\n", qPrintable(argument));
            return 2;
        } else {
            // Listed as the file chooser would give it: a full path.
            evidence << QDir::cleanPath(QFileInfo(argument).absoluteFilePath());
        }
    }

    app.setWindowIcon(QIcon(":/morrow/morrow.png"));
    morrow::MainDialog dialog;
    // $XDG_CONFIG_HOME/morrow/morrow.conf, ~/.config/morrow/morrow.conf by default.
    dialog.rememberIn(new QSettings(QSettings::NativeFormat, QSettings::UserScope, "morrow", "morrow"));
    dialog.show();
    dialog.addEvidenceFiles(evidence); // a duplicate's warning shows over the dialog
    dialog.exec();
    return 0;
}
