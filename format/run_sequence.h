#pragma once
#include "core/format_types.h"
#include "format/device_access.h"
#include "format/run_interface.h"
#include "reader/media_type.h"

// One format of the USB flash disk as every front end runs it, in this order: the log's start
// line, the front end's progress timer started, the physical format, STOP UNIT when it asks for
// a re-plug (before the timer stops), the timer stopped, the log's end line, and the progress
// bar put at 100 unless the run was cancelled. The percentage text is left as the engine or the
// last tick left it. Returns the engine's result.
FormatResult RunFormatSequence(RunInterface& run, DeviceAccess& device, MediaType unit,
                               FormatMode mode);
