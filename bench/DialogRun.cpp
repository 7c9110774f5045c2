// morrow-dialog-run: one whole run through the desktop dialog, as an examiner would make it:
// the evidence listed with Browse and Add, every kind ticked, the carving path chosen, Start
// pressed. bench/compare-peers times it against morrow-cli on the same image. The message boxes
// are answered without a window: No to every question (so the carving path is not opened), OK
// to the rest. Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
// Usage: morrow-dialog-run -o CARVING_PATH EVIDENCE
// Exit status: 0 after a complete run, 1 after any other end, 2 on bad arguments.
#include "MainDialog.h"

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace morrow;

int main(int argc, char** argv) {
    std::string out, evidence;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-o" && i + 1 < argc) {
            out = argv[++i];
        } else if (evidence.empty() && !a.empty() && a[0] != '-') {
            evidence = a;
        } else {
            evidence.clear();
            break;
        }
    }
    if (out.empty() || evidence.empty()) {
        std::fputs("Usage: morrow-dialog-run -o CARVING_PATH EVIDENCE\n", stderr);
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    QApplication app(argc, argv);
    MainDialog dialog;
    bool completed = false;
    dialog.host().setMessagePresenter([&](QWidget*, const MessageRequest& m) {
        std::fprintf(stderr, "%s: %s\n", m.title.toUtf8().constData(), m.text.toUtf8().constData());
        completed = completed || m.text.startsWith("Carving Completed Successfully.");
        return (m.style & 0x0F) == 0x04 ? answerNo : answerOk;
    });
    dialog.host().setFolderExplorer([](const QString&) {});
    dialog.setFileChooser(
        [&](QWidget*, const QString&, const QString&) { return QString::fromStdString(evidence); });
    dialog.setFolderChooser([&](QWidget*, const QString&) { return QString::fromStdString(out); });
    dialog.show();
    QApplication::processEvents();

    auto click = [&](int id) { dialog.control<QAbstractButton>(id)->click(); };
    click(ctl::EvidenceBrowse);
    click(ctl::Add);
    click(ctl::EvidenceSelectAll);
    click(ctl::KindSelectAll);
    click(ctl::CarvingBrowse);
    // Start runs the whole carve inside its handler, on this thread, as in the application.
    click(ctl::Ok);
    return completed ? 0 : 1;
}
