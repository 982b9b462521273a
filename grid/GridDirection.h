// GridDirection: the four directions the active cell moves in.
#pragma once

#include <array>
#include <cstdint>

namespace zarvel {

enum class GridDirection : uint8_t { up, down, left, right };

inline constexpr std::array<GridDirection, 4> allGridDirections{GridDirection::up, GridDirection::down,
                                                                GridDirection::left, GridDirection::right};

} // namespace zarvel
