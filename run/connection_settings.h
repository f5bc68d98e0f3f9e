// The connection values of a run; the reader lives in settings/, this header
// keeps the run sequence's names for it.
#pragma once

#include "settings/connection_settings.h"

namespace run {

using settings::ConnectionSettings;
using settings::kDatabaseName;
using settings::ReadConnectionSettings;
using settings::WipeSecret;

}  // namespace run
