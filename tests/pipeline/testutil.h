#pragma once

#include <array>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pipeline/lyricview.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace quillon::testing {

using ScratchDir = TempDir;
using RecordingView = MemoryLyricView;

}  // namespace quillon::testing
