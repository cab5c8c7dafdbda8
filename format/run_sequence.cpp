#include "format/run_sequence.h"

#include "format/format_texts.h"

FormatResult RunFormatSequence(RunInterface& run, DeviceAccess& device, MediaType unit,
                               FormatMode mode) {
    run.Log().Append(texts::kLogStartFormatting);
    run.StartProgressTimer();
    const FormatResult result = device.RunPhysicalFormat(run, unit, mode);
    if (result == FormatResult::CompleteReplug) device.StopUnit(unit);
    run.StopProgressTimer();
    run.Log().Append(texts::kLogEndFormatting);
    if (result != FormatResult::Cancelled) run.SetProgressPosition(100);
    return result;
}
