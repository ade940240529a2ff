// Random object colours, drawn from one process-wide sequence so that a run gives
// the same colours in the same order.
#pragma once

namespace vexa::mesh {

// Draws r, g, b in [0, 1] (each draw / 32767), repeating until r + g + b reaches 1.0
// (mode 1) or 2.0 (mode 2): mode 2 gives light colours. Any thread.
void randomColour(int mode, double rgb[3]);

// Restarts the sequence (seed 0), for tests.
void resetRandomColour();

} // namespace vexa::mesh
