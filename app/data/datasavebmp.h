// BMP pictures written by the save command: 8-bit grey pictures with a grey palette
// (they read back as grey samples) and 24-bit colour pictures.
#pragma once

#include <cstdint>
#include <string>

namespace vexa {

// Writes a width x height picture, rows top first, to path (created or truncated).
// Grey: one byte per pixel. Colour: RGBA pixels, alpha dropped. False when the
// sizes cannot be stored in a BMP or any write fails (the file is then incomplete:
// callers write to a temporary name).
bool writeBmpGrey(const std::string& path, const std::uint8_t* pixels, int width, int height);
bool writeBmpColour(const std::string& path, const std::uint8_t* rgba, int width, int height);

} // namespace vexa
