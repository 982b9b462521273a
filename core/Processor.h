// Processor: which wider instructions the readings may use on this machine.
#pragma once

namespace zarvel::Processor {

// Whether this processor has AVX2 and the bit instructions (POPCNT, BMI1, BMI2) that the
// wider readings are compiled for, and they have not been switched off.
[[nodiscard]] bool hasWideVectors();

// Switches the wider readings off or back on; tests read with both, which must agree.
void allowWideVectors(bool allow);

} // namespace zarvel::Processor
