#pragma once
#include "core/format_types.h"
#include "format/run_interface.h"
#include "reader/media_type.h"
#include "reader/reader.h"

// The low-level format of the controller's flash disk: checks readiness, learns the banks and
// their geometry, saves the old CIS page, tests, erases and marks every block of every bank,
// then writes the new CIS page and an empty FAT volume. Returns Failed, Cancelled (Stop, or
// Abort in the damaged-media box) or CompleteReplug; the message the run leaves goes to
// run.SetRunMessage. The front end is reached only through run, the stick only through the unit
// `unit` of `reader`.
FormatResult RunPhysicalFormat(RunInterface& run, Reader& reader, MediaType unit, FormatMode mode);
