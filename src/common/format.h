// Number formatting for user-facing messages.
#pragma once

#include <string>

namespace strokegraph {

// Shortest decimal text that reads back as the same double, never with an
// exponent: "0", "-0", "0.1", "1e22" as "10000000000000000000000", and
// "NaN", "inf", "-inf" for the non-finite values.
std::string format_float(double value);

}  // namespace strokegraph
