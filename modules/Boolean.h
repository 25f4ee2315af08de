#pragma once
#include <cstdint>

namespace zorvik {

// The engine answers with a 16-bit Boolean: True is -1, False is 0.
using VbBool = std::int16_t;
inline constexpr VbBool kTrue = -1;
inline constexpr VbBool kFalse = 0;

}  // namespace zorvik
