// Colormap files: XML documents with a root "COLORMAP" (items "title" and "size" = 256)
// and 256 "color" children (items "index", "r", "g", "b"; components as reals in [0, 1]).
#pragma once

#include "display/palette.h"

#include <string>

namespace vexa {

// Files larger than this are refused before being read: a full colormap is about 20 KB.
constexpr long long kColormapMaxFileBytes = 4LL * 1024 * 1024;

// Reads a colormap file into record (family 6, the given variant, named by the title or
// "Sans titre"; entries that are not given correctly stay black). Does not touch the
// palette list. Returns false, with the reason in *why when given, when the file is
// unreadable, too large, not a "COLORMAP" document, has a "size" other than 256 or not
// exactly one "title" item.
bool loadColormap(
    const std::string& path, int variant, PaletteRecord& record, std::string* why = nullptr);

// Reads a colormap file and appends its palette to the list; null when it does not read.
PaletteRecord* readColormap(const std::string& path, int variant, std::string* why = nullptr);

// "Importer...": reads a colormap file as a new palette with the next free variant of the
// colour-table family, so that it never shadows a start-up file's palette.
PaletteRecord* importColormap(const std::string& path, std::string* why = nullptr);

// Writes the 256 colours of the palette as a colormap file titled title ("Sans titre"
// when empty). The file is replaced only when the whole document was written.
bool writeColormap(const PaletteRecord& record, const std::string& path, const std::string& title);

// Component of a colormap file to a byte: floor(c x 255) with c limited to [0, 1], read
// with a tolerance of 1/1000 of a step so that the six decimals of a written file give
// back the byte they came from.
std::uint8_t colormapComponentToByte(double c);

} // namespace vexa
