#pragma once

#include "box/Wire.h"

#include <functional>
#include <string>

namespace morrow {

class ParentPipes;

namespace box {

// The worker's side: Morrow's programs start themselves again with workerArgument to run the
// checks of carved files and the reading of file systems away from the run, one request after
// another, for as long as the parent keeps the pipe open.
inline constexpr const char* workerArgument = "--morrow-worker";
// What a worker is started for, its second argument: what it sets up before it is confined (a
// worker serves any request, but one it was not set up for may find a library unable to load).
inline constexpr const char* roleChecks = "checks";
inline constexpr const char* roleFileSystems = "file-systems";
inline constexpr const char* rolePictures = "pictures"; // the front end's warm-ups (addHandler)

// Serves one request whose head and body were read; the reply is written to `pipes`. False when
// the parent has gone.
using Handler = std::function<bool(std::string_view body, ParentPipes& pipes)>;
// What a front end adds to its workers (the dialog's thumbnails): before serveIfAsked. `warmUp`
// runs in each worker before it is confined: whatever the handler's libraries load or set up
// when first used (plugins, fonts), since files cannot be opened after.
void addHandler(Message message, Handler handler, std::function<void()> warmUp = {});

// Serves requests until the parent closes the pipe or breaks the protocol.
void serve(ParentPipes& pipes);

// The first thing main() does: when the arguments make this process a worker, it serves and
// exits without returning; otherwise it returns at once, having noted that this program can be
// started as a worker.
void serveIfAsked(int argc, char** argv);
// Whether this program called serveIfAsked: one that did not (a benchmark, a fuzz target) makes
// its checks and reads its file systems in its own process.
bool workersServed();

// Writes one frame. False when the parent has gone.
bool reply(ParentPipes& pipes, Message message, std::string_view body);

} // namespace box

} // namespace morrow
