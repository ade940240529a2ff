// File formats beyond the workstation's own: a registry of readers and writers that
// the open and save paths ask by name, extension and first bytes.
//
// A reader works in two steps so that the caller can validate sizes and check
// memory before anything large is allocated: probe reads the header only, read fills
// caller-owned memory of exactly width * height * depth * vexaTypeSize(type) bytes
// with samples in X fastest, then Y, then Z order (Y = 0 is the first row shown).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexa {

struct FormatHeader {
    int width = 0, height = 0, depth = 1;
    int typeData = 0; // TYPEDATA_*
    // Values shown = stored * valueGain + valueOffset when valueScaleOn (rescale
    // slope/intercept, SEG-Y or NIfTI scaling kept rather than applied).
    double valueGain = 1, valueOffset = 0;
    bool valueScaleOn = false;
    double spacing[3] = { 1, 1, 1 };
    double origin[3] = { 0, 0, 0 };
    // Initial display window (DICOM window centre/width) when the file gives one.
    bool hasWindow = false;
    double windowCentre = 0, windowWidth = 0;
    // Text for the information window (textual headers, geometry, encoding). Never
    // anything that identifies a patient.
    std::string info;
    // Reader-private state kept between probe and read (sorted file list, offsets).
    std::shared_ptr<void> state;
};

struct FormatReader {
    const char* name = nullptr; // "NIfTI", shown in the open chooser and messages
    const char* patterns = nullptr; // "*.nii *.nii.gz *.hdr"
    // True when the file is this format; head holds the first bytes (up to
    // kFormatHeadBytes, fewer for short files). Must not throw or read past head.
    bool (*sniff)(const std::string& path, const std::string& head) = nullptr;
    // Reads the header; false with a French reason naming the file.
    bool (*probe)(const std::string& path, FormatHeader& header, std::string* reason) = nullptr;
    // Fills samples (see above); false with a reason when the file is short or bad.
    bool (*read)(
        const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
        = nullptr;
};

// What a writer is handed: the samples in the reader's order.
struct FormatBlockView {
    int width = 0, height = 0, depth = 1;
    int typeData = 0;
    const void* samples = nullptr;
    double valueGain = 1, valueOffset = 0;
    bool valueScaleOn = false;
    double spacing[3] = { 1, 1, 1 };
    double origin[3] = { 0, 0, 0 };
};

struct FormatWriter {
    const char* name = nullptr; // "NIfTI"
    const char* extension = nullptr; // ".nii", the chooser's default
    const char* patterns = nullptr; // "*.nii *.nii.gz"
    bool (*accepts)(int typeData) = nullptr;
    // Replaces path whole or not at all (atomic save); false with a French reason
    // naming the file, the old file then untouched.
    bool (*write)(const std::string& path, const FormatBlockView& block, std::string* reason)
        = nullptr;
};

constexpr std::size_t kFormatHeadBytes = 4096;

// Every reader and writer compiled in, in the order the choosers list them.
const std::vector<FormatReader>& formatReaders();
const std::vector<FormatWriter>& formatWriters();

// The first bytes of path (up to kFormatHeadBytes); empty when unreadable.
std::string formatHead(const std::string& path);

// The reader that claims the file, or null.
const FormatReader* formatReaderFor(const std::string& path, const std::string& head);

// The writer whose patterns match path's extension, or null.
const FormatWriter* formatWriterFor(const std::string& path);

// For a file no reader claims but whose first bytes or name say what it is, a French
// reason naming the file and the format ("format NIfTI non pris en charge"); empty
// when nothing is recognised (raw import is then the way to read it).
std::string formatUnsupportedReason(const std::string& path, const std::string& head);

// The readers' entries (one per format compiled in). Each lives in its own source.
const FormatReader& tiffLibraryReader();
const FormatReader& niftiReader();
const FormatReader& segyReader();
const FormatReader& dicomReader();
const FormatReader& nrrdReader();
const FormatReader& metaImageReader();
const FormatReader& inrReader();
const FormatReader& vtkImageReader();
const FormatWriter& niftiWriter();
const FormatWriter& tiffWriter();
const FormatWriter& segyWriter();
const FormatWriter& nrrdWriter();
const FormatWriter& metaImageWriter();

} // namespace vexa
