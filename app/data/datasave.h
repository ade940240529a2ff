// Saving image data as files: the save-format box (2D or 3D, format, sample type),
// the header writers of the file library, "INRIA avec référence" and BMP pictures.
//
// A save never damages what exists: the file is written beside its target under a
// temporary name and renamed over it only once complete, so a failed save keeps the
// old file and the datum as they were.
#pragma once

#include "data/datarecord.h"

#include <functional>
#include <string>
#include <vector>

namespace vexa {

// Internal format codes (not list positions).
enum SaveFormatCode : int {
    SAVE_FORMAT_BMP = 0,
    SAVE_FORMAT_GDR = 1,
    SAVE_FORMAT_INRIA = 2,
    SAVE_FORMAT_INRIA_REFERENCE = 3,
    SAVE_FORMAT_DF3 = 4,
    SAVE_FORMAT_RAW = 5,
    // Writers of other programs' formats: this plus the writer's index in
    // formatWriters().
    SAVE_FORMAT_OTHER = 100,
};

struct SaveFormat {
    const char* label;
    int code; // SaveFormatCode
    int headerKind; // VexaFileHeaderKind; 0 for the picture format
};

// The formats of the list, in list order: all six for a 2D save, without "BMP" for
// a 3D save.
std::vector<SaveFormat> saveFormatsOffered(bool threeD);
// What the save-format box lists: the formats above, then one per writer of other
// programs' formats (NRRD, MetaImage, ...), labelled with the writer's name.
std::vector<SaveFormat> saveFormatsListed(bool threeD);
// Sample types offered for a format, in list order, with their labels; empty for an
// unknown code.
std::vector<int> saveFormatTypes(int formatCode);
std::vector<std::string> saveFormatTypeLabels(int formatCode);
// List position preselected for a datum of that type: its own type where offered,
// "24 bits - RGB" for RGBA and "8 bits - Niveaux de Gris" otherwise in BMP, U8 in DF3
// and S16 in both INRIA formats.
int saveFormatDefaultTypePosition(int formatCode, int datumType);

// What the save-format box asks.
struct SaveFormatChoice {
    bool blockOffered = false; // the datum holds a block: "2D" or "3D"
    bool threeD = false;
    int imageType = TYPEDATA_U8; // type of the image shown (2D)
    int blockType = TYPEDATA_U8; // type of the block (3D)
    int formatPosition = 0; // in saveFormatsListed(threeD)
    int typePosition = 0; // in saveFormatTypes(format code)
};

// The save-format box. The default asks through parameter boxes: "2D,3D" (blocks
// only), then the format list, then the type list of the chosen format. A GUI may
// install a single dialog instead (an empty function restores the default). The
// presenter returns false when cancelled.
using SaveFormatPresenter = std::function<bool(SaveFormatChoice&)>;
void setSaveFormatPresenter(SaveFormatPresenter presenter);
bool askSaveFormat(SaveFormatChoice& choice);

struct SaveRequest {
    bool threeD = false; // the whole block rather than the image shown
    int formatCode = SAVE_FORMAT_GDR;
    int typeData = TYPEDATA_U8;
    std::string path;
    // "INRIA avec référence": the file whose header is copied, and whether its
    // dimensions are kept rather than the datum's.
    std::string referencePath;
    bool copyDimensions = false;
};

// Writes the datum as the request says. Samples are converted to the chosen type
// (clamped, truncated; scalar samples saved as colour go through the datum's
// palette, colour saved as scalar gives the mean of red, green and blue). After a
// GDR or INRIA save of the whole block of an image record, the block moves to the
// saved file and every record of that block shows the new name. False with a reason
// (French, for the user) on failure: nothing is then changed on disk or in the datum.
bool dataSave(DataRecord* record, const SaveRequest& request, std::string* reason = nullptr);

// Filters and title of the save dialog.
inline constexpr const char* kSaveDataFilters
    = "Fichier Bitmap (*.bmp);;Fichier GDR (*.gdr);;Fichier INRIA (*.xt *.iso)";
// The save dialog's filter for a chosen format: its own line first (the one the
// dialog starts on), then the other lines above.
std::string saveDataFilters(int formatCode);
// The name a save in that format writes: path, with the writer's extension added
// when a format of another program is chosen and path does not end with it.
std::string savePathForFormat(const std::string& path, int formatCode);
inline constexpr const char* kSaveDataTitle = "Sauvegarder une donnée...";

// The "Fichier référence" box of "INRIA avec référence", with its answers
// remembered for the run. False when cancelled.
bool askSaveReference(std::string& path, bool& copyDimensions);

// "Sauvegarder une donnée..." on an image record: the save-format box, the save
// dialog, the reference box for "INRIA avec référence", then the save. A failure is
// shown in the "Erreur" box. True when a file was written.
bool saveDataCommand(DataRecord* record);

} // namespace vexa
