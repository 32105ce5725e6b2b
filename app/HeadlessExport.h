// The export without a window: --export PATTERN... --out DIR [--mips]. Needs neither GL nor an X
// server; no application object of Qt's GUI is made.
#pragma once

namespace velmora {

struct TCommandLine;

// Loads what the start-up would (host/LoadPlan.h), writes every BLP file matching a pattern as
// PNG below the output folder, names each file that fails on stderr with its reason and, on a
// terminal, shows a progress line there. Returns the exit status: 0 when every matching file was
// written, 1 when any failed, nothing could be loaded or no file matched.
int RunHeadlessExport(const TCommandLine& commandLine);

}  // namespace velmora
