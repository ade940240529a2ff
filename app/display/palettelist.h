// The process-wide palette list: built-in palettes, the colormap files found beside the
// program, and what the user adds, imports or deletes during the run (never saved except
// by exporting). Blocks and images refer to a palette by its (family, variant) pair.
//
// The list is changed on the interface thread only. Record pointers stay valid until
// that record is removed or the list is released. copyPaletteTable may be called from
// any thread.
#pragma once

#include "display/palette.h"

#include <string>
#include <vector>

namespace vexa {

// The palette of labelled images ("Aleatoire Modulo"): label values are coloured by it.
constexpr int kLabelPaletteFamily = kFamilyEditable;
constexpr int kLabelPaletteVariant = 2;

// Names of the colormap files read at start-up from the "colormap" folder beside the
// program, in order. The k-th file's palette gets variant k of the colour-table family.
extern const char* const kColormapFileNames[14];

// User-visible texts of the palette manager.
extern const char* const kPaletteUntitled; // "Sans titre"
extern const char* const kPaletteNewName; // "Nouvelle Palette"
extern const char* const kPaletteImportBox; // "Fichier%h%n"
extern const char* const kPaletteExportBox; // "Nom%s%nFichier%h%n"
extern const char* const kPaletteDefaultFileName; // "colormap.xml"
extern const char* const kPaletteEditorSlopeTitle; // "Palette - Type Pente"
extern const char* const kPaletteEditorEditableTitle; // "Palette - Type Editable"
extern const char* const kPaletteEditorCircularTitle; // "Palette - Type Circulaire"

// Clears the list, appends the built-in palettes, then one palette per colormap file of
// programDir/colormap that reads (a missing or invalid file adds nothing).
// Returns the number of palettes in the list.
int buildPaletteList(const std::string& programDir);

// Frees every palette.
void releasePaletteList();

// Number of palettes, and the palette at a position of the list (null when out of range).
int paletteCount();
PaletteRecord* paletteAt(int index);
// Position of a palette in the list, -1 when it is not there.
int paletteIndexOf(const PaletteRecord* record);

// The palette with that family and variant, null when none.
PaletteRecord* findPalette(int family, int variant);

// The colours of the palette (family, variant); when there is none, those of the first
// palette of the list, or a grey ramp when the list is empty. Returns 1 when the pair
// was found, 0 when a fallback was used. Safe from any thread.
int copyPaletteTable(int family, int variant, ColourTable& out);

// Appends a copy of record at the end of the list and returns the stored palette.
PaletteRecord* appendPalette(const PaletteRecord& record);

// Removes a palette ("Supprimer"). Returns 1 when it was in the list.
int removePalette(const PaletteRecord* record);

// The variant a new palette of that family gets: one more than the largest in the list,
// and never one of the built-in variants (slope 0..8, editable 0..2, direction and HSL 0)
// nor of the start-up colormap files (0..13).
int nextPaletteVariant(int family);

// "Ajouter": adds a user palette of editor.family with the editor's parameters and name,
// the next variant number of the family and user = 1. An editable palette starts as a
// grey ramp; the HSL families take alpha1 0.0 and alpha2 1.0.
PaletteRecord* addUserPalette(const PaletteRecord& editor);

// Tables of the two random editable palettes: entry 0 black, the others random colours;
// with minimumSum, each colour is redrawn until r + g + b >= minimumSum (components as
// reals in [0, 1]). Draws come from the palette module's own generator (see the .cpp),
// so the process-wide rand() sequence is left alone.
void fillRandomTable(ColourTable& table, double minimumSum);

// Restarts the palette module's random generator from seed 0.
void resetPaletteRandom();

} // namespace vexa
