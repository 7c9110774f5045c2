#pragma once

#include "CarveHost.h"
#include "CarveState.h"
#include "Catalog.h"
#include "HeaderIndex.h"
#include "Output.h"

#include <functional>
#include <string>

namespace morrow {

// The carving engine: owns the shared state, reaches the front end only through CarveHost, and
// runs everything on the caller's thread. startRun is the operation behind Start.
class CarveEngine {
public:
    explicit CarveEngine(CarveHost& host);

    CarveState& state() { return state_; }
    CarveHost& host() { return host_; }
    Output& output() { return output_; }
    HeaderIndex& headerIndexCache() { return headerIndex_; }
    const FileTypeCatalog& catalog() const { return catalog_; }

    // Reads the form, checks the settings and carves every listed evidence file with every
    // selected kind, then shows the summary. Returns when the run is over.
    void startRun();

    // A carver entry point: true when the pass went through all its candidates, false when the
    // whole run must end (the carver has shown its own message first).
    using Carver = std::function<bool(CarveEngine&, const CarvePass&)>;
    struct Carvers {
        Carver headerFooter;
        Carver sizeDriven;
        Carver compoundDoc;
    };
    static Carvers standardCarvers();
    // Tests inject their own carvers to watch the dispatch.
    void setCarvers(Carvers carvers) { carvers_ = std::move(carvers); }

    // Opens the evidence for a pass into state().evidence and sets evidenceSize and
    // evidenceSectors. Shows "Evidence file open failed" and returns false when it cannot.
    bool openEvidence(const std::string& path);

    // The poll point of a carver's candidate loop: asks the Stop question and then the Quit
    // question when they were requested. False when the user confirmed one of them
    // (carvingInProgress cleared, or quitConfirmed set): the pass must end with false.
    bool pollCandidate();

    // Texts of the Stop and Quit questions and their title.
    static const char* const warningTitle;
    static const char* const stopQuestion;
    static const char* const quitQuestion;

private:
    bool runPasses(const std::string& evidencePath);
    void finishPartialRun(const std::string& carvingRoot);
    void showSummary(bool complete, const std::string& carvingRoot);

    CarveHost& host_;
    CarveState state_;
    Output output_;
    HeaderIndex headerIndex_;
    FileTypeCatalog catalog_;
    Carvers carvers_;
};

} // namespace morrow
