// What the readers of formats with a small text header share: token parsing, data
// files named beside the header, and the reading of samples stored raw, gzip-packed
// or as text, possibly spread over several files.
#pragma once

#include "formats/formats.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::textheader {

// Largest text header read: beyond it a file is not one of these formats.
constexpr std::size_t kMaxHeaderBytes = 1 << 16;

std::string lowered(std::string_view text);
std::string trimmed(std::string_view text);
// Whitespace-separated words.
std::vector<std::string> words(std::string_view text);
// The whole word as a number; false for trailing garbage, overflow or non-finite.
bool toInt64(const std::string& word, std::int64_t& value);
bool toDouble(const std::string& word, double& value);
// True when name (lower case compared) ends with suffix.
bool endsWith(const std::string& name, std::string_view suffix);

// The first bytes of path, up to limit; false when it cannot be read. A gzip file is
// unpacked when unpack is set.
bool readStart(const std::string& path, std::size_t limit, std::string& out, bool unpack = false);
// The size of a file in bytes; false when it is not a readable regular file.
bool fileBytes(const std::string& path, std::uint64_t& size);
// A data file named in a header: absolute as given, otherwise beside the header.
std::string besideHeader(const std::string& headerPath, const std::string& name);

// Sizes each of 1 to 2^31 - 1 and a total byte count that memory could address;
// false with a French reason naming path.
bool sizesAcceptable(const std::string& path, std::int64_t width, std::int64_t height,
    std::int64_t depth, int typeData, std::string* reason);

// How the samples of a header are stored. Each part holds the same share of the
// samples, in order (one part for a single data file).
enum class Encoding { Raw, Gzip, Ascii };
struct DataPart {
    std::string path;
    std::int64_t offset = 0; // bytes skipped first; -1: the samples end the file
    std::int64_t unpackedSkip = 0; // packed parts: bytes of the unpacked stream skipped
};
struct SampleLayout {
    std::string headerPath; // the file opened, named first in reasons
    std::vector<DataPart> parts;
    Encoding encoding = Encoding::Raw;
    bool bigEndian = false;
    // Scalars: 1. Colour made of 3 or 4 bytes per sample, read into TYPEDATA_RGBA.
    int components = 1;
};

// Bytes of one part as stored (before packing) for the header's sizes.
std::uint64_t partBytes(const FormatHeader& header, const SampleLayout& layout);
// For raw parts: every file holds its share past its offset. False with a reason
// naming the short file.
bool rawPartsComplete(const FormatHeader& header, const SampleLayout& layout, std::string* reason);
// Fills samples (the header's width * height * depth samples of its type). False
// with a reason naming the file when data is missing or malformed.
bool readSamples(
    const FormatHeader& header, const SampleLayout& layout, void* samples, std::string* reason);

// Writes header then the samples in little-endian order to path, replacing it whole
// or not at all. False with a reason naming path.
bool writeHeaderAndSamples(const std::string& path, const std::string& header,
    const FormatBlockView& block, std::string* reason);

// Header type words of one component for each sample type, as the two writers
// need them; "" when the type is not written.
const char* typeWordNrrd(int typeData);
const char* typeWordMeta(int typeData);

} // namespace vexa::textheader
