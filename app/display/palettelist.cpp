#include "display/palettelist.h"

#include "display/colormap.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <list>
#include <mutex>

namespace vexa {

const char* const kColormapFileNames[14] = { "blackbdy.xml", "cardiac.xml", "concolor.xml",
    "fiveramp.xml", "flow.xml", "fusion16.xml", "ge_color.xml", "grayrain.xml", "hotiron.xml",
    "nih.xml", "rainbow.xml", "redblue.xml", "spectrum.xml", "trecscan.xml" };

const char* const kPaletteUntitled = "Sans titre";
const char* const kPaletteNewName = "Nouvelle Palette";
const char* const kPaletteImportBox = "Fichier%h%n";
const char* const kPaletteExportBox = "Nom%s%nFichier%h%n";
const char* const kPaletteDefaultFileName = "colormap.xml";
const char* const kPaletteEditorSlopeTitle = "Palette - Type Pente";
const char* const kPaletteEditorEditableTitle = "Palette - Type Editable";
const char* const kPaletteEditorCircularTitle = "Palette - Type Circulaire";

namespace {

// std::list: doubly linked, insertion order, and addresses that survive other
// insertions and removals, so the interface can hold record pointers.
std::list<PaletteRecord> s_palettes;
std::mutex s_paletteMutex;

// Random colours of the editable tables: the 15-bit generator of the C standard's
// reference rand(), kept here so that building the list neither reads nor reseeds the
// process-wide rand(). The stream runs on from draw to draw: reseeding it from each
// colour's last draw would fall into a cycle of fewer than a hundred colours, and
// labels 256 colours apart would no longer be told apart.
std::uint32_t s_randomState = 0;

int drawRandom()
{
    s_randomState = s_randomState * 1103515245u + 12345u;
    return static_cast<int>((s_randomState / 65536u) % 32768u);
}

PaletteRecord makeBuiltin(const char* name, int family, int variant)
{
    PaletteRecord rec;
    rec.name = name;
    rec.family = family;
    rec.variant = variant;
    return rec;
}

PaletteRecord* findLocked(int family, int variant)
{
    for (PaletteRecord& rec : s_palettes)
        if (rec.family == family && rec.variant == variant)
            return &rec;
    return nullptr;
}

// Variants below these are the built-in rules and the start-up colormap files; a
// user palette never takes them, even when the built-in palette was deleted, since a
// direction palette of variant 0, for one, would ignore its own colours.
int firstUserVariant(int family)
{
    switch (family) {
    case kFamilySlope:
        return kFirstUserSlopeVariant;
    case kFamilyEditable:
        return 3;
    case kFamilyColourTable:
        return 14;
    default:
        return 1;
    }
}

int nextVariantLocked(int family)
{
    int next = firstUserVariant(family);
    for (const PaletteRecord& rec : s_palettes)
        if (rec.family == family && rec.variant >= next)
            next = rec.variant + 1;
    return next;
}

} // namespace

void resetPaletteRandom()
{
    s_randomState = 0;
}

void fillRandomTable(ColourTable& table, double minimumSum)
{
    table[0] = PaletteColour {};
    for (int i = 1; i < 256; ++i) {
        double r, g, b;
        // The sum of three uniform draws reaches any minimum below 3 quickly; the bound
        // only guards against a minimum that cannot be met.
        int tries = 0;
        do {
            r = drawRandom() / 32767.0;
            g = drawRandom() / 32767.0;
            b = drawRandom() / 32767.0;
        } while (r + g + b < minimumSum && ++tries < 1000);
        setPaletteColour(table, i, r, g, b);
    }
}

int buildPaletteList(const std::string& programDir)
{
    std::vector<PaletteRecord> builtins;
    builtins.push_back(makeBuiltin("---- Niveaux de Gris (Type Pente)", kFamilySlope, 0));
    builtins.push_back(makeBuiltin("Niveaux de Gris Inverses", kFamilySlope, 1));
    builtins.push_back(makeBuiltin("Atlas", kFamilySlope, 2));
    builtins.push_back(makeBuiltin("Profondeur", kFamilySlope, 3));
    builtins.push_back(makeBuiltin("Noir-Blanc-Rouge", kFamilySlope, 4));
    builtins.push_back(makeBuiltin("Noir-Blanc-Bleu", kFamilySlope, 5));
    builtins.push_back(makeBuiltin("Noir-Blanc-Vert", kFamilySlope, 6));
    builtins.push_back(makeBuiltin("France", kFamilySlope, 7));
    builtins.push_back(makeBuiltin("Noir-Rouge", kFamilySlope, 8));

    PaletteRecord grey = makeBuiltin("---- Niveaux de Gris (Type Editable)", kFamilyEditable, 0);
    fillGreyRamp(grey.table);
    builtins.push_back(grey);
    resetPaletteRandom();
    PaletteRecord random = makeBuiltin("Aleatoire", kFamilyEditable, 1);
    fillRandomTable(random.table, 0.0);
    builtins.push_back(random);
    PaletteRecord randomBright = makeBuiltin("Aleatoire Modulo", kFamilyEditable, 2);
    fillRandomTable(randomBright.table, 1.2);
    builtins.push_back(randomBright);

    builtins.push_back(makeBuiltin("---- Direction (Type Demi-circulaire)", kFamilyDirection, 0));
    builtins.push_back(
        makeBuiltin("---- Direction HSL (Type Demi-circulaire)", kFamilyDirectionHsl, 0));
    builtins.push_back(
        makeBuiltin("---- Orientation HSL (Type Circulaire)", kFamilyOrientationHsl, 0));
    builtins.push_back(
        makeBuiltin("---- Orientation HSL (Type Couleur Linéaire)", kFamilyOrientationLinear, 0));

    // Colormap files are parsed before the list is touched, so that a reader on another
    // thread never waits on file input.
    const std::string folder = (programDir.empty() ? std::string(".") : programDir) + "/colormap/";
    for (int k = 0; k < 14; ++k) {
        PaletteRecord rec;
        if (loadColormap(folder + kColormapFileNames[k], k, rec))
            builtins.push_back(std::move(rec));
    }

    std::lock_guard lock(s_paletteMutex);
    s_palettes.clear();
    for (PaletteRecord& rec : builtins)
        s_palettes.push_back(std::move(rec));
    return static_cast<int>(s_palettes.size());
}

void releasePaletteList()
{
    std::lock_guard lock(s_paletteMutex);
    s_palettes.clear();
}

int paletteCount()
{
    std::lock_guard lock(s_paletteMutex);
    return static_cast<int>(s_palettes.size());
}

PaletteRecord* paletteAt(int index)
{
    std::lock_guard lock(s_paletteMutex);
    if (index < 0 || index >= static_cast<int>(s_palettes.size()))
        return nullptr;
    return &*std::next(s_palettes.begin(), index);
}

int paletteIndexOf(const PaletteRecord* record)
{
    std::lock_guard lock(s_paletteMutex);
    int index = 0;
    for (const PaletteRecord& rec : s_palettes) {
        if (&rec == record)
            return index;
        ++index;
    }
    return -1;
}

PaletteRecord* findPalette(int family, int variant)
{
    std::lock_guard lock(s_paletteMutex);
    return findLocked(family, variant);
}

int copyPaletteTable(int family, int variant, ColourTable& out)
{
    std::lock_guard lock(s_paletteMutex);
    if (const PaletteRecord* rec = findLocked(family, variant)) {
        computePalette(*rec, out);
        return 1;
    }
    if (!s_palettes.empty())
        computePalette(s_palettes.front(), out);
    else
        fillGreyRamp(out);
    return 0;
}

PaletteRecord* appendPalette(const PaletteRecord& record)
{
    std::lock_guard lock(s_paletteMutex);
    s_palettes.push_back(record);
    return &s_palettes.back();
}

int removePalette(const PaletteRecord* record)
{
    std::lock_guard lock(s_paletteMutex);
    for (auto it = s_palettes.begin(); it != s_palettes.end(); ++it) {
        if (&*it == record) {
            s_palettes.erase(it);
            return 1;
        }
    }
    return 0;
}

int nextPaletteVariant(int family)
{
    std::lock_guard lock(s_paletteMutex);
    return nextVariantLocked(family);
}

PaletteRecord* addUserPalette(const PaletteRecord& editor)
{
    PaletteRecord rec = editor;
    rec.user = 1;
    if (rec.name.empty())
        rec.name = kPaletteNewName;
    switch (rec.family) {
    case kFamilyEditable:
        fillGreyRamp(rec.table);
        break;
    case kFamilyDirectionHsl:
    case kFamilyOrientationHsl:
        rec.alpha1 = 0.0;
        rec.alpha2 = 1.0;
        break;
    default:
        break;
    }
    std::lock_guard lock(s_paletteMutex);
    rec.variant = nextVariantLocked(rec.family);
    s_palettes.push_back(std::move(rec));
    return &s_palettes.back();
}

} // namespace vexa
