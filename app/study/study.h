// Studies: interpretation projects kept in a folder tree. A study file, found in one
// of the configured study directories, names the study folder on its first line; the
// folder holds DATA/SEISMIC/ (volumes) and category folders under DATA/ (surfaces,
// faults, regions, textures). Opening a study makes a study datum whose window shows
// the seismic tree and the classified data tree built here.
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::study {

inline constexpr const char* kChooserTitle = "Ouverture d'une étude ...";
inline constexpr const char* kMissingFolderText = "Répertoire inexistant";
inline constexpr const char* kOpenProblemCaption = "Problème d'ouverture d'étude";
inline constexpr const char* kSettingsDescription
    = "Nom Study%s%nRépertoire des données%s%nRépertoire des études%s";
inline constexpr const char* kEmptyStudyTitle = "Study";

// Longest study path taken from a study file; a longer first line is not a path.
inline constexpr std::size_t kMaxStudyPathBytes = 4095;

// Data-tree types and icons of the category folders.
enum StudyType : int {
    TYPE_RAW_SURFACES = 1, // "iso", "gdr"
    TYPE_SURFACES_3D = 2, // "hor", "flt"
    TYPE_BLOBS = 3, // "blb", "stl", "vtk", "off"
    TYPE_TEXTURES = 4, // "xml"
    TYPE_NURBS = 5, // "xml"
};

struct StudyColour {
    std::uint8_t r = 0, g = 0, b = 0;
};

// One entry of a study tree. The root of each tree is the folder it is rooted at.
struct StudyNode {
    std::string label;
    std::string path; // full path; folders end with '/'
    bool folder = false;
    int type = 0; // data tree only
    int icon = 0; // data tree only, 0..3
    StudyColour colour; // data-tree files
    int width = 0, height = 0, depth = 0; // seismic files
    std::vector<StudyNode> children;
};

// The kind object of a study datum.
struct StudyObject : KindObject {
    std::string path; // the study folder, '/'-separated
    std::string title = kEmptyStudyTitle;
    int maxWidth = 0, maxHeight = 0, maxDepth = 0;
    StudyNode seismicTree, dataTree;
    // Set by fillStudy when the study folder does not exist.
    bool folderMissing = false;

    // The largest sizes among the seismic files.
    void reportSizes(int& width, int& height, int& depth) const override;
};

// base + name, with a '/' added where base lacks one and a '/' at the end.
std::string joinFolder(const std::string& base, const std::string& name);

// Text after the last '.' of a file name; empty when there is none.
std::string extensionOf(const std::string& fileName);

// The study path held by the bytes of a study file: the first line without its line
// end (LF, CR LF or CR; a NUL ends it too), backslashes read as '/'. Nothing when the
// line is longer than kMaxStudyPathBytes.
std::optional<std::string> studyPathFromText(std::string_view bytes);

// The study folder named by the study file at studyFile: a relative path is taken
// from the folder holding the study file, so a study moves with its study file.
// Nothing when the file cannot be read or its first line is not a path.
struct StudyFileContent {
    std::string line; // the first line as written, without its line end
    std::string path; // the folder it names
};
std::optional<StudyFileContent> readStudyFile(const std::string& studyFile);

// The colour of a "Data3D_V1.0" mesh file, when it is one and holds its colour lines.
std::optional<StudyColour> meshFileColour(const std::string& path);

// Lists the study folder into study: the seismic tree (image files, raising the
// maximum sizes), the data tree (category folders, accepted extensions). A missing
// folder leaves both trees empty and sets folderMissing.
void fillStudy(StudyObject& study);

// One line of the study chooser: a configured directory (depth 0), a sub-directory
// or a study file (depth 1 and more).
struct ChooserEntry {
    std::string label;
    int depth = 0;
    bool isFile = false;
    std::string directory; // the folder holding the file, or the folder itself
    std::string fileName;
};
// The chooser's lines for the given study directories, each followed by its entries,
// names in order, sub-directories beginning with "." left out.
std::vector<ChooserEntry> chooserEntries(const std::vector<std::string>& directories);
// The labels shown for the entries: nested lines indented by their depth.
std::vector<std::string> chooserLabels(const std::vector<ChooserEntry>& entries);

// Opens the study named by a study file as a new study datum (window through the
// host, named after the study). Null, with nothing shown, when the file cannot be
// read. A missing study folder shows "Répertoire inexistant" and keeps the datum.
DataRecord* openStudyFile(const std::string& studyFile);

// The study of a record: its own object when it is a study datum, else null.
StudyObject* studyOf(DataRecord* record);

// "Ouverture d'une étude ...": lists the studies of the PATH_STUDY directories and
// opens the one chosen. Does nothing without study directories or when nothing is
// chosen; returns the new record, or null.
DataRecord* openStudyCommand();

// The study settings box (name, data and study folders), remembered for the run.
struct StudySettings {
    std::string name = "New";
    std::string dataFolder = "E:\\3D\\";
    std::string studyFolder = "E:\\STUDYS\\";
};
StudySettings studySettings();
// Shows the settings box; true when validated (the new values are then kept).
bool studySettingsCommand();

} // namespace vexa::study
