// Opening image files as data: a file of depth 1 becomes a 2D image in memory, a
// deeper one a block left in its file (with its companion files). A file whose
// header is not recognised is offered to the raw import. The window of the new
// record is built through the host.
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <memory>
#include <string>

struct FileDescriptor;

namespace vexa {

inline constexpr const char* kCannotOpenFile = "Impossible d'ouvrir le fichier";
inline constexpr const char* kErrorCaption = "Erreur";

// The workstation's own lines of the open dialog, in the chooser's
// "label (patterns);;..." form.
inline constexpr const char* kOpenDataFilters
    = "Fichier Bitmap (*.bmp);;Fichier GDR (*.gdr);;Fichier INRIA (*.xt *.iso);;Maillage (*.stl "
      "*.off *.vtk)";
// The open dialog's filter: "Tous Formats" with every pattern first, then the lines
// above, one line per reader of other programs' formats, and every file last (raw
// samples have no extension of their own).
std::string openDataFilters();
inline constexpr const char* kOpenDataTitle = "Ouvrir une donnée...";

// A file opened as a descriptor with its header read; null when the file cannot be
// opened or its header is not recognised.
FileHandle dataOpenDescriptor(const std::string& path);

// Memory the program may still take, in bytes: what the system can give without
// swapping, bounded by the address-space limit.
std::uint64_t availableMemoryBytes();
// "512 octets", "3,5 Mo", "9,3 Go": a byte count for the user.
std::string byteCountText(std::uint64_t bytes);

// Reads a file of depth 1 whole into a 2D image of the file's type, named path.
// Null with a reason when the sizes or type are refused, when the image would not
// fit in the available memory, when the file holds fewer samples than its header
// announces (a damaged header must not reserve memory for samples that do not
// exist), or when the samples do not read.
std::unique_ptr<ImageObject> imageFromDescriptor(
    FileDescriptor* desc, const std::string& path, std::string* reason = nullptr);
// Reads the whole volume of a file into a block in memory, named path. Null with a
// reason when it would not fit in the available memory.
std::unique_ptr<ImageObject> memoryBlockFromDescriptor(
    FileDescriptor* desc, const std::string& path, std::string* reason = nullptr);

// The vertical sampling written in the comments of an INRIA header ("PASECH", or
// "PECH", and "TDEB"). found is false when the file has no step or a step of 0.
struct SamplingComments {
    bool found = false;
    double step = 1;
    double start = 0;
};
SamplingComments readSamplingComments(FileDescriptor* desc);

// Depth to pixel units: every sample v >= 0 becomes (v - start) / step (computed in
// double precision), negative samples are kept, then the image is mirrored top to
// bottom. For F32 images only; false (nothing changed) otherwise.
bool convertDepthToPixels(ImageDescriptor& image, double start, double step);

// The check box of the depth conversion box, remembered for the run (default off).
bool depthConversionRemembered();
void depthConversionRemember(bool on);

enum class OpenOutcome {
    Opened,
    CannotOpen, // the file cannot be read: "Impossible d'ouvrir le fichier"
    Cancelled, // the raw import box was closed: nothing to say
    Failed, // refused or unreadable; the reason says why
};

struct OpenResult {
    DataRecord* record = nullptr;
    OpenOutcome outcome = OpenOutcome::CannotOpen;
    std::string reason;
};

// Files that are not images (meshes, ...) are opened by the layers that own their
// kinds, which install an opener at start-up. `claims` looks at the name and the
// first bytes only; `open` makes the record, or returns null with a reason (French,
// naming the file).
struct ForeignFileOpener {
    bool (*claims)(const std::string& path, const std::string& head) = nullptr;
    DataRecord* (*open)(const std::string& path, std::string* reason) = nullptr;
};
void addForeignFileOpener(ForeignFileOpener opener);
void clearForeignFileOpeners();

// Opens path as a datum and creates its record, asking the raw import box when the
// header is not recognised. Safe from a worker thread (dialogs and records go
// through the interface thread).
OpenResult dataOpen(const std::string& path);

// Opens path as a datum and creates its record. Null with a reason (French, for the
// user) when the file cannot be opened or read; the reason is empty when the user
// cancelled the raw import.
DataRecord* dataOpenFile(const std::string& path, std::string* reason = nullptr);

// The open command on a given path: when the file cannot be opened the "Erreur" box
// "Impossible d'ouvrir le fichier" is shown through the host, other failures show
// their reason, a cancelled raw import shows nothing.
DataRecord* dataOpenFileWithMessages(const std::string& path);

// "Ouvrir une donnée...": asks a file through the host and opens it as above.
DataRecord* openDataCommand();

} // namespace vexa

extern "C" {
// Opens an image file as a new datum (messages as dataOpenFileWithMessages) and
// returns its imageId, 0 when nothing was opened. vexaLoadFromFile is the older name.
unsigned int dozDataLoadFromFile(const char* path);
unsigned int vexaLoadFromFile(const char* path);
}
