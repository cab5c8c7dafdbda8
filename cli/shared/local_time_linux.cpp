#include "cli/shared/local_time.h"

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

std::tm UtcTime(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    return utc;
}
