// The local date and time of day, for values a client shows as a date (VT_DATE) and
// for the leaf texts that show the same moment.
#pragma once

#include <string>

namespace porvex {

struct WallTime {
    double ole_date = 0;  // days since 1899-12-30, local time (the VT_DATE scale)
    std::string text;     // "YYYY-MM-DD hh:mm:ss"
};

// Now, in local time.
WallTime local_now();

// The text of a VT_DATE value in local time ("YYYY-MM-DD hh:mm:ss").
std::string ole_date_text(double ole_date);

}  // namespace porvex
