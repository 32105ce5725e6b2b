// The export without a window: --export PATTERN... --out DIR [--format png|dds|raw] [--mips]
// [--overwrite]. Needs neither GL nor an X server; no application object of Qt's GUI is made.
#pragma once

namespace velmora {

struct TCommandLine;

// Loads what the start-up would (host/LoadPlan.h), writes every BLP file matching a pattern (every
// file, for raw) below the output folder in the chosen format, names each file that fails on
// stderr with its reason and, on a terminal, shows a progress line there; ends with the summary
// line "N files written, M failed, K skipped (already there) in DIR". Returns the exit status:
// 0 when every matching file was written or already there, 1 when any failed, nothing could be
// loaded or no file matched.
int RunHeadlessExport(const TCommandLine& commandLine);

}  // namespace velmora
