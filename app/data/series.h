// Image series assembly: a numbered series of 2D image files described as the slices
// of one logical volume (an XML document with root "LOGICAL" that the file library
// opens as a volume without copying the samples).
#pragma once

#include <string>
#include <vector>

namespace vexa {

struct SeriesSettings {
    std::string destination; // the document to write; seriesDefaultDestination() at first
    std::string root = "img/img_";
    std::string extension = ".bmp";
    int digits = 3; // list index: 0 to 3 for 1 to 4 zero-padded digits
    int first = 0;
    int last = 9999;
    bool checkExistence = false; // only files that open become slices
    int sizeMode = 1; // 0 "Manuelle" (width, height below), 1 "Automatique"
    int width = 512;
    int height = 512;
};

// $TMPDIR/vexa/assembly.xml ($TMPDIR defaulting to /tmp).
std::string seriesDefaultDestination();

// The answers remembered for the run. Safe from any thread.
SeriesSettings seriesRemembered();
void seriesRemember(const SeriesSettings& settings);

// root + index printed with 1 to 4 digits + extension; empty for a bad digit index.
std::string seriesFileName(const SeriesSettings& settings, int index);

// Where a name of the document is looked for: as given when absolute, otherwise in
// the directory of the document (as the file library reads it); '\\' counts as '/'.
std::string seriesResolve(const std::string& destination, const std::string& name);

struct SeriesPart {
    int x = 0, y = 0, z = 0;
    std::string name; // as built, relative as typed
};

struct SeriesVolume {
    int width = 0, height = 0, depth = 0;
    std::vector<SeriesPart> parts;
};

// The volume the settings describe. Files are opened only with the existence check
// or the automatic size. With the check, the range narrows to the first and last
// file that open and the depth counts the files that open; without it the depth is
// the whole range. Either way the parts take the depths 0, 1, 2, ... in order, so
// that without the check a missing file leaves the last slices empty. With the
// automatic size the volume is as wide and high as the largest file and each slice
// is centred. False with a reason when nothing can be described: an empty or
// too large range, a bad digit index, no file that opens, a size not positive.
bool seriesDescribe(
    const SeriesSettings& settings, SeriesVolume& volume, std::string* reason = nullptr);

// Writes the "LOGICAL" document (WIDTH, HEIGHT, DEPTH, one "PART" with X, Y, Z and
// NAME per part) to path, creating its folder if needed. The file appears only
// complete. False with a reason on failure (a folder that cannot be made is named).
bool seriesWriteDocument(
    const SeriesVolume& volume, const std::string& path, std::string* reason = nullptr);

// The dialog of the command, bound to the settings; false when cancelled.
bool seriesAsk(SeriesSettings& settings);

// "Série d'images\t -> Image 3D": the dialog, then the document, which is opened as a
// volume. A series that describes nothing writes nothing and a document that cannot be
// written (its folder is created when missing) is not written; both say why in the
// "Erreur" box. True when the document was written.
bool seriesAssemblyCommand();

} // namespace vexa
