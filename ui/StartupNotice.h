// What the view area says when the start-up ends with nothing to show: what was looked for and
// where (the registry file, the installation directory, the archive list, the archives, the
// shader folder), what to do next, and where to read more.
#pragma once

#include <QString>

#include <string>

#include "host/LoadPlan.h"

namespace velmora {

// When a shader file of the view is missing: the files and the folder they were looked for in,
// in a few words; empty when both are there.
std::string ShaderFilesProblem();

// The notice: the archives that stopped the archive reader, the shader problem and, when
// `treeEmpty`, the loading's problem (host/LoadPlan.h), each with what to do; empty when there is
// none of them.
QString StartupNoticeText(const TStartupReport& report, bool treeEmpty, const std::string& shaderProblem,
                          const std::string& logFile);

}  // namespace velmora
