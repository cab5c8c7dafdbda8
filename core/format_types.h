#pragma once

// Result of one format run. The physical format answers only Failed, Cancelled or
// CompleteReplug.
enum class FormatResult : int {
    Complete = 0,
    Failed = 1,
    Cancelled = 2,
    CompleteReplug = 8,  // complete, and the device must be re-plugged
};

// Any value other than Full behaves as Quick.
enum class FormatMode : int {
    Quick = 0,
    Full = 1,  // Quick plus the surface tests
};
