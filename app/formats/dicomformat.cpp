// DICOM images through GDCM: a single file, a multi-frame file, the series of the
// opened file's folder, or the first series of a DICOMDIR.
//
// Grey samples keep their stored integer type (U8/S8, U16/S16, U32/S32; 1-bit
// masks become U8 0/1) and the rescale slope and intercept become the value gain
// and offset, so nothing is rounded. Only when the slices of one series carry
// different rescales are the samples converted to F32 with each slice's rescale
// applied. 8-bit colour becomes RGBA. Nothing that names or identifies the patient
// is read into the header text, and GDCM's own messages are silenced because they
// may quote tag values.
#include "formats/formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <zlib.h>

#include <gdcmDataSet.h>
#include <gdcmImage.h>
#include <gdcmImageReader.h>
#include <gdcmMediaStorage.h>
#include <gdcmReader.h>
#include <gdcmScanner.h>
#include <gdcmSequenceOfFragments.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmStringFilter.h>
#include <gdcmTrace.h>
#include <gdcmWriter.h>

#include "vexa_reason.hpp"
#include "vexa_types.h"

namespace vexa {

namespace {

namespace fs = std::filesystem;

// Larger decoded images than this many times the compressed bytes are refused as
// decompression bombs (real images compress far less).
constexpr std::uint64_t kMaxCompressionRatio = 1024;
constexpr std::uint64_t kMinBombLimit = std::uint64_t(64) << 20;

const gdcm::Tag kRows(0x0028, 0x0010), kColumns(0x0028, 0x0011), kFrames(0x0028, 0x0008),
    kSamplesPerPixel(0x0028, 0x0002), kBitsAllocated(0x0028, 0x0100),
    kPixelRepresentation(0x0028, 0x0103), kPhotometric(0x0028, 0x0004), kSlope(0x0028, 0x1053),
    kIntercept(0x0028, 0x1052), kWindowCentre(0x0028, 0x1050), kWindowWidth(0x0028, 0x1051),
    kPixelSpacing(0x0028, 0x0030), kImagerSpacing(0x0018, 0x1164), kSliceThickness(0x0018, 0x0050),
    kSliceSpacing(0x0018, 0x0088), kPosition(0x0020, 0x0032), kOrientation(0x0020, 0x0037),
    kSeriesUid(0x0020, 0x000E), kSopUid(0x0008, 0x0018), kSopClass(0x0008, 0x0016),
    kModality(0x0008, 0x0060), kSeriesDescription(0x0008, 0x103E), kDoseScaling(0x3004, 0x000E),
    kFrameOffsets(0x3004, 0x000C), kPixelData(0x7FE0, 0x0010), kRecordSequence(0x0004, 0x1220),
    kRecordType(0x0004, 0x1430), kFileId(0x0004, 0x1500);

const char* const kRtDoseClass = "1.2.840.10008.5.1.4.1.1.481.2";

void silenceGdcm()
{
    static const bool done = [] {
        gdcm::Trace::SetDebug(false);
        gdcm::Trace::SetWarning(false);
        gdcm::Trace::SetError(false);
        return true;
    }();
    (void)done;
}

std::string trimmed(std::string text)
{
    while (!text.empty()
        && (text.back() == ' ' || text.back() == '\0' || text.back() == '\r'
            || text.back() == '\n'))
        text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    return text.substr(start);
}

// Backslash-separated numbers; false when any is not a finite number.
bool numbers(const std::string& text, std::vector<double>& out)
{
    out.clear();
    if (trimmed(text).empty())
        return false;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\\', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = trimmed(text.substr(at, end - at));
        char* stop = nullptr;
        const double v = std::strtod(item.c_str(), &stop);
        if (item.empty() || *stop != '\0' || !std::isfinite(v))
            return false;
        out.push_back(v);
        at = end + 1;
    }
    return true;
}

bool number(const std::string& text, double& value)
{
    std::vector<double> all;
    if (!numbers(text, all))
        return false;
    value = all.front();
    return true;
}

// String value of a tag in a nested data set (directory records): raw bytes,
// which is right for the text VRs read this way.
std::string rawString(const gdcm::DataSet& ds, const gdcm::Tag& tag)
{
    if (!ds.FindDataElement(tag))
        return {};
    const gdcm::ByteValue* bv = ds.GetDataElement(tag).GetByteValue();
    if (!bv || !bv->GetPointer())
        return {};
    return trimmed(std::string(bv->GetPointer(), bv->GetLength()));
}

// What the probe needs from one file, from its full data set or from a scan.
struct ImageFacts {
    std::string path;
    int rows = 0, columns = 0, frames = 1;
    int samplesPerPixel = 1, bitsAllocated = 0;
    bool signedPixels = false;
    std::string photometric, seriesUid, sopUid, sopClass;
    double slope = 1, intercept = 0;
    bool hasPosition = false, hasOrientation = false, hasFrameCount = false;
    double position[3] = { 0, 0, 0 };
    double orientation[6] = { 1, 0, 0, 0, 1, 0 };
};

// Fills facts from tag values given as strings; false with a reason when the image
// description cannot be used.
template <typename Lookup> bool readFacts(const Lookup& value, ImageFacts& f, std::string* why)
{
    double v = 0;
    if (trimmed(value(kRows)).empty() && trimmed(value(kColumns)).empty()) {
        *why = "aucune image dans le fichier";
        return false;
    }
    if (!number(value(kRows), v) || v < 1 || v > 65535) {
        *why = "nombre de lignes absent ou invalide";
        return false;
    }
    f.rows = int(v);
    if (!number(value(kColumns), v) || v < 1 || v > 65535) {
        *why = "nombre de colonnes absent ou invalide";
        return false;
    }
    f.columns = int(v);
    const std::string frames = value(kFrames);
    f.hasFrameCount = !trimmed(frames).empty();
    if (f.hasFrameCount) {
        if (!number(frames, v) || v < 0 || v > 1e6 || v != std::floor(v)) {
            *why = "nombre d'images invalide";
            return false;
        }
        f.frames = std::max(1, int(v));
    }
    f.samplesPerPixel = number(value(kSamplesPerPixel), v) ? int(v) : 1;
    if (!number(value(kBitsAllocated), v)) {
        *why = "nombre de bits par échantillon absent";
        return false;
    }
    f.bitsAllocated = int(v);
    f.signedPixels = number(value(kPixelRepresentation), v) && v == 1;
    f.photometric = trimmed(value(kPhotometric));
    // GDCM stops the program on a palette image with more than one sample a pixel.
    if (f.photometric.rfind("PALETTE", 0) == 0 && f.samplesPerPixel != 1) {
        *why = "image à palette de plusieurs composantes";
        return false;
    }
    if (f.samplesPerPixel == 1) {
        if (f.bitsAllocated != 1 && f.bitsAllocated != 8 && f.bitsAllocated != 16
            && f.bitsAllocated != 32) {
            *why
                = "échantillons de " + std::to_string(f.bitsAllocated) + " bits non pris en charge";
            return false;
        }
    } else if (f.samplesPerPixel != 3 || f.bitsAllocated != 8) {
        *why = "couleur à " + std::to_string(f.samplesPerPixel) + " composantes de "
            + std::to_string(f.bitsAllocated) + " bits non prise en charge";
        return false;
    }
    f.seriesUid = trimmed(value(kSeriesUid));
    f.sopUid = trimmed(value(kSopUid));
    f.sopClass = trimmed(value(kSopClass));
    if (number(value(kSlope), v) && v != 0)
        f.slope = v;
    if (number(value(kIntercept), v))
        f.intercept = v;
    // RT dose grids scale their integers by the dose grid scaling instead.
    if (f.sopClass == kRtDoseClass && number(value(kDoseScaling), v) && v != 0)
        f.slope = v;
    std::vector<double> list;
    f.hasPosition = numbers(value(kPosition), list) && list.size() == 3;
    if (f.hasPosition)
        std::copy(list.begin(), list.end(), f.position);
    f.hasOrientation = numbers(value(kOrientation), list) && list.size() == 6;
    if (f.hasOrientation)
        std::copy(list.begin(), list.end(), f.orientation);
    return true;
}

std::uint64_t decodedBytes(const ImageFacts& f)
{
    const std::uint64_t count = std::uint64_t(f.rows) * std::uint64_t(f.columns)
        * std::uint64_t(f.frames) * std::uint64_t(f.samplesPerPixel);
    return f.bitsAllocated == 1 ? (count + 7) / 8 : count * std::uint64_t(f.bitsAllocated / 8);
}

// Bytes of the stored pixel data when not compressed (GDCM expands subsampled
// colour itself).
std::uint64_t storedBytes(const ImageFacts& f)
{
    if (f.photometric == "YBR_FULL_422" && f.samplesPerPixel == 3)
        return std::uint64_t(f.rows) * std::uint64_t(f.columns) * std::uint64_t(f.frames) * 2;
    return decodedBytes(f);
}

// Value representations written with a 32-bit length (explicit VR encodings).
bool longVr(const char* vr)
{
    static const char* const kLong[]
        = { "OB", "OD", "OF", "OL", "OV", "OW", "SQ", "SV", "UC", "UN", "UR", "UT", "UV" };
    for (const char* l : kLong)
        if (vr[0] == l[0] && vr[1] == l[1])
            return true;
    return false;
}

// Whether two bytes name a value representation of the standard.
bool knownVr(const char* vr)
{
    static const char* const kKnown[] = { "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL",
        "IS", "LO", "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US" };
    for (const char* k : kKnown)
        if (vr[0] == k[0] && vr[1] == k[1])
            return true;
    return longVr(vr);
}

// The media storage class from the file meta group of a file with the "DICM"
// preamble; empty for anything else. The meta group is always explicit VR little
// endian and short, so it is parsed here: GDCM spends seconds on some malformed
// files, and a folder scan should not pay that for files of another kind.
std::string metaStorageClass(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    std::string head(4096, '\0');
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    if (head.size() < 132 || head.compare(128, 4, "DICM") != 0)
        return {};
    const auto* b = reinterpret_cast<const unsigned char*>(head.data());
    std::string storage;
    std::size_t at = 132;
    while (at + 8 <= head.size()) {
        const unsigned group = b[at] | (b[at + 1] << 8);
        const unsigned element = b[at + 2] | (b[at + 3] << 8);
        if (group != 0x0002)
            break;
        const char* vr = head.data() + at + 4;
        std::size_t length = 0, value = 0;
        if (longVr(vr)) {
            if (at + 12 > head.size())
                break;
            length = std::size_t(b[at + 8]) | (std::size_t(b[at + 9]) << 8)
                | (std::size_t(b[at + 10]) << 16) | (std::size_t(b[at + 11]) << 24);
            value = at + 12;
        } else {
            length = b[at + 6] | (b[at + 7] << 8);
            value = at + 8;
        }
        if (length > head.size() - value)
            break;
        if (element == 0x0002)
            storage = trimmed(head.substr(value, length));
        at = value + length;
    }
    return storage;
}

// Whether the pixel data element of a file in a native (uncompressed) transfer
// syntax is whole: GDCM pads a short one with zeros and reports success.
bool nativePixelsComplete(
    const std::string& path, const gdcm::TransferSyntax& syntax, std::uint64_t needed)
{
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    if (!reader.ReadUpToTag(kPixelData, { kPixelData }))
        return false;
    struct stat st { };
    if (::stat(path.c_str(), &st) != 0)
        return false;
    const std::uint64_t size = std::uint64_t(st.st_size);
    // GDCM stops at the value of the skipped element: look a little before it.
    const std::uint64_t stop = reader.GetStreamCurrentPosition();
    const std::uint64_t from = stop > 64 ? stop - 64 : 0;
    if (from >= size)
        return false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::string window(std::size_t(std::min<std::uint64_t>(size - from, 1 << 16)), '\0');
    const bool got = std::fseek(f, long(from), SEEK_SET) == 0
        && std::fread(window.data(), 1, window.size(), f) == window.size();
    std::fclose(f);
    if (!got)
        return false;
    const bool big = syntax.GetSwapCode() == gdcm::SwapCode::BigEndian;
    const std::string tag
        = big ? std::string("\x7F\xE0\x00\x10", 4) : std::string("\xE0\x7F\x10\x00", 4);
    const std::size_t at = window.find(tag);
    if (at == std::string::npos)
        return false;
    const auto* b = reinterpret_cast<const unsigned char*>(window.data()) + at;
    auto read32 = [&](const unsigned char* p) {
        return big ? (std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16
                   | std::uint64_t(p[2]) << 8 | p[3])
                   : (std::uint64_t(p[3]) << 24 | std::uint64_t(p[2]) << 16
                       | std::uint64_t(p[1]) << 8 | p[0]);
    };
    std::uint64_t length = 0, value = 0;
    if (window.size() - at < 12)
        return false;
    if (syntax.IsExplicit()) {
        length = read32(b + 8); // OB/OW: two reserved bytes, then a 32-bit length
        value = 12;
    } else {
        length = read32(b + 4);
        value = 8;
    }
    return length >= needed && from + at + value + needed <= size;
}

// Calls look(bytes, length) on each fragment in order (null and 0 for one without
// bytes) and stops at the first that returns false: false then.
template <typename Look> bool everyFragment(const gdcm::SequenceOfFragments& fragments, Look look)
{
    for (unsigned i = 0; i < fragments.GetNumberOfFragments(); ++i) {
        const gdcm::ByteValue* bv = fragments.GetFragment(i).GetByteValue();
        const bool held = bv && bv->GetPointer();
        if (!look(held ? reinterpret_cast<const unsigned char*>(bv->GetPointer()) : nullptr,
                held ? std::size_t(bv->GetLength()) : 0))
            return false;
    }
    return true;
}

// A JPEG 2000 codestream must describe the image the header declares: GDCM decodes
// into a buffer sized by the header and writes past it when the codestream's image
// (its SIZ marker) is larger or has more or sub-sampled components. Fragments that
// start no codestream (continuations of a frame, JP2 boxes before it) are passed over.
bool jpeg2000MatchesHeader(const gdcm::SequenceOfFragments& fragments, const ImageFacts& f)
{
    auto be16 = [](const unsigned char* p) { return unsigned(p[0]) << 8 | p[1]; };
    auto be32 = [](const unsigned char* p) {
        return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8
            | p[3];
    };
    return everyFragment(fragments, [&](const unsigned char* data, std::size_t length) {
        // The codestream starts the fragment, or follows a JP2 file's boxes.
        const std::size_t look = std::min<std::size_t>(length, 4096);
        std::size_t at = look;
        for (std::size_t k = 0; k + 4 <= look; ++k)
            if (data[k] == 0xff && data[k + 1] == 0x4f && data[k + 2] == 0xff
                && data[k + 3] == 0x51) {
                at = k;
                break;
            }
        if (at == look)
            return true;
        const unsigned char* siz = data + at + 4;
        const std::size_t left = length - at - 4;
        if (left < 38)
            return false;
        const std::uint32_t width = be32(siz + 4), height = be32(siz + 8);
        const std::uint32_t x0 = be32(siz + 12), y0 = be32(siz + 16);
        const unsigned components = be16(siz + 36);
        if (x0 > width || y0 > height || width - x0 != std::uint32_t(f.columns)
            || height - y0 != std::uint32_t(f.rows) || components != unsigned(f.samplesPerPixel)
            || left < 38 + 3 * std::size_t(components))
            return false;
        for (unsigned c = 0; c < components; ++c) {
            const unsigned char* comp = siz + 38 + 3 * c;
            const unsigned precision = (comp[0] & 0x7f) + 1u;
            if (precision > unsigned(std::max(f.bitsAllocated, 8)) || comp[1] != 1 || comp[2] != 1)
                return false;
        }
        return true;
    });
}

// Every frame's JPEG (or JPEG-LS) stream must hold a whole header, its segments one
// after another from its start through a frame header to the scan header: GDCM reads
// it before decoding, and stops the program on an assertion when the JPEG library
// warns of anything, stray bytes between segments among them. Fragments that start
// no stream (continuations of a frame) are passed over; at least one must start one.
bool jpegHeadersWhole(const gdcm::SequenceOfFragments& fragments)
{
    const auto frameHeader = [](unsigned m) {
        return (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) || m == 0xF7;
    };
    bool started = false;
    const bool whole = everyFragment(fragments, [&](const unsigned char* data, std::size_t length) {
        if (length < 2 || data[0] != 0xFF || data[1] != 0xD8)
            return true;
        started = true;
        bool frame = false, scan = false;
        std::size_t at = 2;
        while (!scan) {
            while (at < length && data[at] == 0xFF && at + 1 < length && data[at + 1] == 0xFF)
                ++at; // fill bytes
            if (at + 2 > length || data[at] != 0xFF)
                return false;
            const unsigned marker = data[at + 1];
            at += 2;
            if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
                continue; // no length
            if (marker == 0xD8 || marker == 0xD9 || at + 2 > length)
                return false;
            const std::size_t segment = std::size_t(data[at]) << 8 | data[at + 1];
            if (segment < 2 || segment > length - at)
                return false;
            frame = frame || frameHeader(marker);
            scan = marker == 0xDA;
            at += segment;
        }
        return frame;
    });
    return whole && started;
}

// Every RLE frame must start with a header GDCM can follow: 1 to 15 segments, each
// starting after the 64-byte header, in order, inside the frame. GDCM reads past its
// offset table for a larger count.
bool rleHeadersValid(const gdcm::SequenceOfFragments& fragments)
{
    const auto le32 = [](const unsigned char* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
            | std::uint32_t(p[3]) << 24;
    };
    return everyFragment(fragments, [&](const unsigned char* data, std::size_t length) {
        if (length < 64)
            return false;
        const std::uint32_t segments = le32(data);
        if (segments < 1 || segments > 15)
            return false;
        std::uint32_t previous = 64;
        for (std::uint32_t k = 0; k < segments; ++k) {
            const std::uint32_t offset = le32(data + 4 + 4 * k);
            if (offset < previous || offset >= length)
                return false;
            previous = offset;
        }
        return true;
    });
}

// The pixel data must hold the whole image, in a form GDCM can read safely.
bool checkPixelData(
    const std::string& path, const gdcm::File& file, const ImageFacts& f, std::string* why)
{
    const gdcm::DataSet& ds = file.GetDataSet();
    if (!ds.FindDataElement(kPixelData)) {
        *why = "aucune image dans le fichier";
        return false;
    }
    const gdcm::DataElement& pixels = ds.GetDataElement(kPixelData);
    std::uint64_t needed = decodedBytes(f);
    if (const gdcm::SequenceOfFragments* fragments = pixels.GetSequenceOfFragments()) {
        const std::uint64_t packed = fragments->ComputeByteLength();
        if (needed > std::max(kMinBombLimit, packed * kMaxCompressionRatio)) {
            *why = "image compressée de taille déclarée invraisemblable";
            return false;
        }
        const std::string syntax = file.GetHeader().GetDataSetTransferSyntax().GetString();
        const bool jpeg2000 = syntax.rfind("1.2.840.10008.1.2.4.9", 0) == 0
            || syntax.rfind("1.2.840.10008.1.2.4.20", 0) == 0;
        if (jpeg2000 && !jpeg2000MatchesHeader(*fragments, f)) {
            *why = "image JPEG 2000 différente de l'entête";
            return false;
        }
        const bool jpeg = syntax == "1.2.840.10008.1.2.4.50" || syntax == "1.2.840.10008.1.2.4.51"
            || syntax == "1.2.840.10008.1.2.4.57" || syntax == "1.2.840.10008.1.2.4.70"
            || syntax == "1.2.840.10008.1.2.4.80" || syntax == "1.2.840.10008.1.2.4.81";
        if (jpeg && !jpegHeadersWhole(*fragments)) {
            *why = "image JPEG incomplète";
            return false;
        }
        if (syntax == "1.2.840.10008.1.2.5" && !rleHeadersValid(*fragments)) {
            *why = "image RLE invalide";
            return false;
        }
        return true;
    }
    const gdcm::ByteValue* bv = pixels.GetByteValue();
    const gdcm::TransferSyntax syntax = file.GetHeader().GetDataSetTransferSyntax();
    needed = storedBytes(f);
    // A file with a meta group reached GDCM only once every element was found
    // whole; the others need the look at the pixel element itself.
    if (!bv || std::uint64_t(bv->GetLength()) < needed
        || (syntax != gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian
            && metaStorageClass(path).empty() && !nativePixelsComplete(path, syntax, needed))) {
        *why = "données d'image tronquées";
        return false;
    }
    return true;
}

// Checks that every element of a file's data set lies inside the file before GDCM
// sees it: GDCM stops the program on an assertion for some elements cut short
// (a trailing element a few bytes short is enough). Nested sequences of undefined
// length are followed; content of defined length is only bounds-checked.
class ElementWalk {
public:
    // head: the file's first bytes, already read, served without another read.
    ElementWalk(int fd, std::uint64_t size, bool big, bool explicitVr, const std::string& head)
        : fd_(fd)
        , size_(size)
        , big_(big)
        , explicit_(explicitVr)
        , head_(head)
    {
    }

    // Top-level values of the image description met on the way, and where a pixel
    // data element of defined length lies.
    struct Layout {
        int rows = -1, columns = -1, samplesPerPixel = -1, bitsAllocated = -1, bitsStored = -1,
            highBit = -1, pixelRepresentation = -1, planar = -1;
        std::string frames, photometric;
        // Other text values the series gathering asks for, by group << 16 | element.
        std::vector<std::pair<std::uint32_t, std::string>> texts;
        bool pixels = false;
        std::uint64_t pixelOffset = 0, pixelLength = 0;
    };
    const Layout& layout() const { return layout_; }

    bool dataSet(std::uint64_t& pos, std::uint64_t end, bool delimited, int depth)
    {
        if (depth > 32)
            return false;
        while (pos < end) {
            unsigned char h[12];
            if (!fetch(pos, h, 8))
                return false;
            const unsigned group = u16(h), element = u16(h + 2);
            if (depth == 0 && group == 0x7FE0 && element == 0x0010)
                pixelsReached_ = true;
            if (group == 0xFFFE)
                return delimited && element == 0xE00D && (pos += 8, true);
            std::uint64_t length = 0;
            bool sequence = false, unknown = false;
            if (explicit_) {
                // On a VR it does not know, GDCM reads the data set again as implicit
                // VR, where the lengths are other bytes: it allocated a declared
                // 1.3 GB for a 4 KB file so.
                const char vr[2] = { char(h[4]), char(h[5]) };
                if (!knownVr(vr))
                    return false;
                if (longVr(vr)) {
                    if (!fetch(pos, h, 12))
                        return false;
                    length = u32(h + 8);
                    pos += 12;
                } else {
                    length = u16(h + 6);
                    pos += 8;
                }
                sequence = vr[0] == 'S' && vr[1] == 'Q';
                unknown = vr[0] == 'U' && vr[1] == 'N';
            } else {
                length = u32(h + 4);
                pos += 8;
            }
            if (pos > end)
                return false;
            if (depth == 0 && length != 0xFFFFFFFFu && length <= end - pos)
                note(group, element, pos, length);
            if (length == 0xFFFFFFFFu) {
                const bool pixels = group == 0x7FE0 && element == 0x0010;
                // GDCM asserts on an undefined length of any other explicit VR, and
                // reads the items of an unknown one (UN) as implicit VR.
                if (explicit_ && !pixels && !sequence && !unknown)
                    return false;
                const bool wasExplicit = explicit_;
                explicit_ = explicit_ && !unknown;
                const bool whole = items(pos, pixels ? -1 : depth + 1);
                explicit_ = wasExplicit;
                if (!whole)
                    return false;
            } else {
                if (length > end - pos)
                    return false;
                // GDCM falls back to another reading on a bad nested item and
                // asserts there: sequences are walked into, where the VR says so.
                if (sequence && !definedItems(pos, pos + length, depth + 1))
                    return false;
                pos += length;
            }
        }
        return !delimited && pos == end;
    }

    // Every element before the pixel data was whole.
    bool pixelsReached() const { return pixelsReached_; }

private:
    void note(unsigned group, unsigned element, std::uint64_t pos, std::uint64_t length)
    {
        if (group == 0x7FE0 && element == 0x0010) {
            layout_.pixels = true;
            layout_.pixelOffset = pos;
            layout_.pixelLength = length;
            return;
        }
        const std::uint32_t key = std::uint32_t(group) << 16 | element;
        if (key == 0x00280008u || key == 0x00280004u || key == 0x00281053u || key == 0x00281052u
            || key == 0x00200032u || key == 0x00200037u || key == 0x0020000Eu || key == 0x00080018u
            || key == 0x00080016u || key == 0x3004000Eu) {
            char text[256];
            if (length >= sizeof text
                || !fetch(pos, reinterpret_cast<unsigned char*>(text), length))
                return;
            if (key == 0x00280008u)
                layout_.frames = trimmed(std::string(text, length));
            else if (key == 0x00280004u)
                layout_.photometric = trimmed(std::string(text, length));
            layout_.texts.emplace_back(key, std::string(text, length));
            return;
        }
        if (group != 0x0028)
            return;
        if (element == 0x0008 || element == 0x0004) {
            char text[64];
            if (length >= sizeof text
                || !fetch(pos, reinterpret_cast<unsigned char*>(text), length))
                return;
            (element == 0x0008 ? layout_.frames : layout_.photometric)
                = trimmed(std::string(text, length));
            return;
        }
        int* field = nullptr;
        switch (element) {
        case 0x0002:
            field = &layout_.samplesPerPixel;
            break;
        case 0x0006:
            field = &layout_.planar;
            break;
        case 0x0010:
            field = &layout_.rows;
            break;
        case 0x0011:
            field = &layout_.columns;
            break;
        case 0x0100:
            field = &layout_.bitsAllocated;
            break;
        case 0x0101:
            field = &layout_.bitsStored;
            break;
        case 0x0102:
            field = &layout_.highBit;
            break;
        case 0x0103:
            field = &layout_.pixelRepresentation;
            break;
        default:
            return;
        }
        unsigned char v[2];
        if (length == 2 && fetch(pos, v, 2))
            *field = int(u16(v));
    }

    // The items of a sequence of defined length, which must fill it exactly.
    bool definedItems(std::uint64_t pos, std::uint64_t end, int depth)
    {
        while (pos < end) {
            unsigned char h[8];
            if (end - pos < 8 || !fetch(pos, h, 8) || u16(h) != 0xFFFE || u16(h + 2) != 0xE000)
                return false;
            const std::uint64_t length = u32(h + 4);
            pos += 8;
            if (length == 0xFFFFFFFFu) {
                if (!dataSet(pos, end, true, depth))
                    return false;
            } else {
                std::uint64_t inner = pos;
                if (length > end - pos || !dataSet(inner, pos + length, false, depth))
                    return false;
                pos += length;
            }
        }
        return pos == end;
    }

    // Items up to the sequence delimiter; depth -1 for pixel fragments.
    bool items(std::uint64_t& pos, int depth)
    {
        for (;;) {
            unsigned char h[8];
            if (!fetch(pos, h, 8) || u16(h) != 0xFFFE)
                return false;
            const unsigned element = u16(h + 2);
            const std::uint64_t length = u32(h + 4);
            pos += 8;
            // GDCM reads a length given to the delimiter of fragments as a fragment's.
            if (element == 0xE0DD)
                return (depth >= 0 || length == 0) && length <= size_ - pos;
            if (element != 0xE000)
                return false;
            if (length == 0xFFFFFFFFu) {
                if (depth < 0 || !dataSet(pos, size_, true, depth))
                    return false;
            } else {
                if (length > size_ - pos)
                    return false;
                pos += length;
            }
        }
    }

    // Bytes past the head come through a window read in large pieces: a header
    // beyond the head (vendors' private groups) would otherwise cost a read per
    // element.
    bool fetch(std::uint64_t pos, unsigned char* out, std::size_t n)
    {
        if (pos > size_ || n > size_ - pos)
            return false;
        if (pos <= head_.size() && n <= head_.size() - pos) {
            std::memcpy(out, head_.data() + pos, n);
            return true;
        }
        if (pos < windowStart_ || pos - windowStart_ > window_.size()
            || n > window_.size() - (pos - windowStart_)) {
            if (n > kWindow)
                return ::pread(fd_, out, n, off_t(pos)) == ssize_t(n);
            window_.resize(std::size_t(std::min<std::uint64_t>(kWindow, size_ - pos)));
            const ssize_t got = ::pread(fd_, window_.data(), window_.size(), off_t(pos));
            windowStart_ = pos;
            window_.resize(got > 0 ? std::size_t(got) : 0);
            if (n > window_.size())
                return false;
        }
        std::memcpy(out, window_.data() + (pos - windowStart_), n);
        return true;
    }
    unsigned u16(const unsigned char* p) const
    {
        return big_ ? unsigned(p[0] << 8 | p[1]) : unsigned(p[1] << 8 | p[0]);
    }
    std::uint64_t u32(const unsigned char* p) const
    {
        return big_ ? (std::uint64_t(p[0]) << 24 | std::uint64_t(p[1]) << 16
                   | std::uint64_t(p[2]) << 8 | p[3])
                    : (std::uint64_t(p[3]) << 24 | std::uint64_t(p[2]) << 16
                        | std::uint64_t(p[1]) << 8 | p[0]);
    }

    int fd_;
    std::uint64_t size_;
    bool big_, explicit_;
    const std::string& head_;
    static constexpr std::size_t kWindow = 64 << 10;
    std::string window_;
    std::uint64_t windowStart_ = 0;
    bool pixelsReached_ = false;
    Layout layout_;
};

// What one look at a file tells: its meta group, whether GDCM may be handed it
// (no "DICM" preamble, left to GDCM, or a whole meta group followed by a data set
// whose elements all fit in the file), whether what comes before the pixel data is
// whole (enough for a scan of the description), and the walked layout.
struct Inspection {
    bool dicm = false, whole = false, headerWhole = false, walked = false;
    std::string syntax, storageClass;
    ElementWalk::Layout layout;
    // The file looked at: a later read may trust the look while these still hold.
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified { };
};

bool stillInspected(const Inspection& in, const struct stat& st)
{
    return in.size == st.st_size && in.device == st.st_dev && in.inode == st.st_ino
        && in.modified.tv_sec == st.st_mtim.tv_sec && in.modified.tv_nsec == st.st_mtim.tv_nsec;
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Fewer files than this are not worth a second thread.
constexpr std::size_t kThreadedFiles = 16;

// Runs work(i) for every i below count, on this thread and one helper when there are
// two cores. Each call must touch only what belongs to its i, so results do not
// depend on which thread ran it. An exception from either thread is rethrown here
// once both have stopped.
template <typename Work> void forEachFile(std::size_t count, const Work& work)
{
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    std::atomic<std::size_t> next { 0 };
    std::exception_ptr helperFailure;
    auto run = [&] {
        for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            work(i);
    };
    std::thread helper;
    if (twoCores && count >= kThreadedFiles) {
        try {
            helper = std::thread([&] {
                try {
                    run();
                } catch (...) {
                    helperFailure = std::current_exception();
                    next.store(count); // the other thread stops too
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: this one does everything.
        }
    }
    try {
        run();
    } catch (...) {
        next.store(count);
        if (helper.joinable())
            helper.join();
        throw;
    }
    if (helper.joinable())
        helper.join();
    if (helperFailure)
        std::rethrow_exception(helperFailure);
}

// The data set of a deflated file, from offset start: raw deflate, as the transfer
// syntax has it. False when it does not inflate whole, or would grow past the limit
// that compressed images are held to.
bool inflateDataSet(int fd, std::uint64_t size, std::uint64_t start, std::string& out)
{
    out.clear();
    if (start >= size)
        return false;
    const std::uint64_t packed = size - start;
    const std::uint64_t limit = std::max(kMinBombLimit, packed * kMaxCompressionRatio);
    z_stream z {};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    std::vector<unsigned char> in(std::size_t(std::min<std::uint64_t>(packed, 1 << 20)));
    std::uint64_t offset = start;
    int rc = Z_OK;
    char piece[1 << 16];
    while (rc == Z_OK) {
        if (z.avail_in == 0) {
            const ssize_t got = ::pread(fd, in.data(), in.size(), off_t(offset));
            if (got <= 0)
                break;
            offset += std::uint64_t(got);
            z.next_in = in.data();
            z.avail_in = uInt(got);
        }
        z.next_out = reinterpret_cast<Bytef*>(piece);
        z.avail_out = sizeof piece;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(piece, sizeof piece - z.avail_out);
        if (out.size() > limit)
            break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

// onlyClass: when not empty, a file of another storage class is not walked.
Inspection inspectOpen(int fd, const std::string& onlyClass)
{
    Inspection in;
    struct stat st { };
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return in;
    in.device = st.st_dev;
    in.inode = st.st_ino;
    in.size = st.st_size;
    in.modified = st.st_mtim;
    std::string head(8192, '\0');
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    head.resize(got > 0 ? std::size_t(got) : 0);
    if (head.size() < 132 || head.compare(128, 4, "DICM") != 0) {
        in.whole = in.headerWhole = true;
        return in;
    }
    in.dicm = true;
    const auto* b = reinterpret_cast<const unsigned char*>(head.data());
    std::size_t at = 132;
    bool metaEnded = false;
    while (at + 8 <= head.size()) {
        const unsigned group = b[at] | (b[at + 1] << 8);
        const unsigned element = b[at + 2] | (b[at + 3] << 8);
        if (group != 0x0002) {
            metaEnded = true;
            break;
        }
        const char* vr = head.data() + at + 4;
        // The meta group is explicit: GDCM takes one without VRs for implicit, and
        // stops the program on an assertion in some of them and on a VR it does not
        // know.
        if (!knownVr(vr))
            return in;
        std::size_t length = 0, value = 0;
        if (longVr(vr)) {
            if (at + 12 > head.size())
                break;
            length = std::size_t(b[at + 8]) | (std::size_t(b[at + 9]) << 8)
                | (std::size_t(b[at + 10]) << 16) | (std::size_t(b[at + 11]) << 24);
            value = at + 12;
        } else {
            length = b[at + 6] | (b[at + 7] << 8);
            value = at + 8;
        }
        if (length > head.size() - value)
            break;
        if (element == 0x0002)
            in.storageClass = trimmed(head.substr(value, length));
        if (element == 0x0010)
            in.syntax = trimmed(head.substr(value, length));
        at = value + length;
    }
    // Without a transfer syntax GDCM guesses the encoding, and may guess one other
    // than the walk's and then stop the program on an assertion: such a file is
    // refused.
    if (!metaEnded || in.syntax.empty())
        return in;
    if (in.syntax == "1.2.840.10008.1.2.1.99") {
        // GDCM inflates the rest itself and stops the program on an assertion when
        // what comes out ends inside an element: the same walk goes over it here
        // first. Its places are in the inflated bytes, so nothing reads through them.
        std::string dataSet;
        if (!inflateDataSet(fd, std::uint64_t(st.st_size), at, dataSet))
            return in;
        ElementWalk walk(-1, dataSet.size(), false, true, dataSet);
        std::uint64_t pos = 0;
        in.whole = walk.dataSet(pos, dataSet.size(), false, 0);
        in.headerWhole = in.whole || walk.pixelsReached();
        return in;
    }
    if (!onlyClass.empty() && in.storageClass != onlyClass)
        return in;
    ElementWalk walk(fd, std::uint64_t(st.st_size), in.syntax == "1.2.840.10008.1.2.2",
        in.syntax != "1.2.840.10008.1.2", head);
    std::uint64_t pos = at;
    in.walked = true;
    in.whole = walk.dataSet(pos, std::uint64_t(st.st_size), false, 0);
    in.headerWhole = in.whole || walk.pixelsReached();
    in.layout = walk.layout();
    return in;
}

Inspection inspect(const std::string& path, const std::string& onlyClass = {})
{
    const FdCloser file { ::open(path.c_str(), O_RDONLY | O_CLOEXEC) };
    return inspectOpen(file.fd, onlyClass);
}

bool structureIsWhole(const std::string& path)
{
    return inspect(path).whole;
}

bool sniffDicom(const std::string& path, const std::string& head)
{
    if (head.size() >= 132 && head.compare(128, 4, "DICM") == 0)
        return true;
    if (head.empty())
        return false;
    std::string name = fs::path(path).filename().string();
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name == "dicomdir" || (name.size() > 4 && name.compare(name.size() - 4, 4, ".dcm") == 0);
}

struct DicomState {
    std::vector<std::string> files; // slice order; one file for a multi-frame image
    std::vector<double> slopes, intercepts; // per file, applied when rescaleEach
    bool rescaleEach = false;
    ImageFacts facts; // of the reference file; frames per file
    std::vector<bool> addFrameCount; // per file: RT dose without a frame count
    // Per file: how the probe found it (null when not walked), so that reading an
    // unchanged file goes straight to its pixels.
    std::vector<std::shared_ptr<const Inspection>> inspections;
};

// The image files a DICOMDIR references, in its order. The series opened is that of
// the first image record: this holds whatever order the patient, study and series
// records are stored in.
bool directoryFiles(const std::string& path, const gdcm::DataSet& ds,
    std::vector<std::string>& files, std::string* why)
{
    files.clear();
    if (!ds.FindDataElement(kRecordSequence)) {
        *why = "DICOMDIR sans enregistrements";
        return false;
    }
    gdcm::SmartPointer<gdcm::SequenceOfItems> records
        = ds.GetDataElement(kRecordSequence).GetValueAsSQ();
    if (!records) {
        *why = "DICOMDIR sans enregistrements";
        return false;
    }
    const fs::path folder = fs::path(path).parent_path();
    for (gdcm::SequenceOfItems::SizeType i = 1; i <= records->GetNumberOfItems(); ++i) {
        const gdcm::DataSet& record = records->GetItem(i).GetNestedDataSet();
        const std::string type = rawString(record, kRecordType);
        if (type != "IMAGE")
            continue;
        std::string id = rawString(record, kFileId);
        if (id.empty())
            continue;
        std::replace(id.begin(), id.end(), '\\', '/');
        if (id.find("..") != std::string::npos || id.front() == '/')
            continue; // stays inside the DICOMDIR's folder
        fs::path file = folder / id;
        if (!fs::exists(file)) {
            std::string lower = id;
            for (char& c : lower)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            file = folder / lower;
        }
        files.push_back(file.string());
    }
    if (files.empty()) {
        *why = "aucune image référencée dans le DICOMDIR";
        return false;
    }
    return true;
}

// Reads a file's whole data set (the pixel data undecoded).
bool readDataSet(const std::string& path, gdcm::Reader& reader)
{
    if (!structureIsWhole(path))
        return false;
    reader.SetFileName(path.c_str());
    return reader.Read();
}

ImageFacts factsOf(const gdcm::File& file, const std::string& path, bool& ok, std::string* why)
{
    gdcm::StringFilter filter;
    filter.SetFile(file);
    ImageFacts f;
    f.path = path;
    const gdcm::DataSet& ds = file.GetDataSet();
    auto value = [&](const gdcm::Tag& tag) -> std::string {
        return ds.FindDataElement(tag) ? filter.ToString(tag) : std::string();
    };
    ok = readFacts(value, f, why);
    return f;
}

void normalOf(const ImageFacts& f, double n[3])
{
    const double* r = f.orientation;
    const double* c = f.orientation + 3;
    n[0] = r[1] * c[2] - r[2] * c[1];
    n[1] = r[2] * c[0] - r[0] * c[2];
    n[2] = r[0] * c[1] - r[1] * c[0];
    if (std::fabs(n[0]) + std::fabs(n[1]) + std::fabs(n[2]) < 1e-6) {
        n[0] = n[1] = 0;
        n[2] = 1;
    }
}

struct SeriesSlice {
    std::string path;
    double distance = 0;
    double slope = 1, intercept = 0;
    bool addFrameCount = false;
};

// A walked top-level value as a scan gives it: numbers of the binary fields in
// decimal, text values as stored.
std::string walkedValue(const ElementWalk::Layout& l, const gdcm::Tag& tag)
{
    auto decimal = [](int v) { return v < 0 ? std::string() : std::to_string(v); };
    if (tag == kRows)
        return decimal(l.rows);
    if (tag == kColumns)
        return decimal(l.columns);
    if (tag == kSamplesPerPixel)
        return decimal(l.samplesPerPixel);
    if (tag == kBitsAllocated)
        return decimal(l.bitsAllocated);
    if (tag == kPixelRepresentation)
        return decimal(l.pixelRepresentation);
    const std::uint32_t key = std::uint32_t(tag.GetGroup()) << 16 | tag.GetElement();
    for (const auto& [k, text] : l.texts)
        if (k == key)
            return text;
    return {};
}

// The files of the reference's series among the candidates (the reference itself
// included), sorted along the slice normal. Stays at the reference alone when the
// series cannot be stacked (no positions, mixed sizes, two slices at one place).
// known: the description of candidates already walked, which GDCM need not scan.
std::vector<SeriesSlice> gatherSeries(const ImageFacts& ref,
    const std::vector<std::string>& candidates,
    const std::unordered_map<std::string, const ElementWalk::Layout*>& known, std::string& note)
{
    std::vector<SeriesSlice> alone = { { ref.path, 0, ref.slope, ref.intercept,
        ref.sopClass == kRtDoseClass && !ref.hasFrameCount } };
    if (ref.frames > 1 || !ref.hasPosition || ref.seriesUid.empty() || candidates.size() < 2)
        return alone;
    // GDCM asserts when asked for a tag it was not told to scan: ask only for these.
    const std::vector<gdcm::Tag> scanned = { kRows, kColumns, kFrames, kSamplesPerPixel,
        kBitsAllocated, kPixelRepresentation, kPhotometric, kSlope, kIntercept, kPosition,
        kOrientation, kSeriesUid, kSopUid, kSopClass, kDoseScaling };
    gdcm::Scanner scanner;
    for (const gdcm::Tag& t : scanned)
        scanner.AddTag(t);
    std::vector<std::string> unknown;
    for (const std::string& file : candidates)
        if (file != ref.path && !known.count(file))
            unknown.push_back(file);
    if (!unknown.empty() && !scanner.Scan(unknown))
        return alone;
    double normal[3];
    normalOf(ref, normal);
    auto along
        = [&](const double p[3]) { return p[0] * normal[0] + p[1] * normal[1] + p[2] * normal[2]; };
    std::vector<SeriesSlice> slices;
    slices.push_back(alone.front());
    slices.front().distance = along(ref.position);
    // A set: a series of hundreds of slices would otherwise compare every pair of UIDs.
    std::unordered_set<std::string> seen = { ref.sopUid };
    for (const std::string& file : candidates) {
        const auto walked = known.find(file);
        if (file == ref.path || (walked == known.end() && !scanner.IsKey(file.c_str())))
            continue;
        auto value = [&](const gdcm::Tag& tag) -> std::string {
            if (std::find(scanned.begin(), scanned.end(), tag) == scanned.end())
                return std::string();
            if (walked != known.end())
                return walkedValue(*walked->second, tag);
            const char* v = scanner.GetValue(file.c_str(), tag);
            return v ? std::string(v) : std::string();
        };
        ImageFacts f;
        std::string ignored;
        if (!readFacts(value, f, &ignored) || f.seriesUid != ref.seriesUid || !f.hasPosition
            || f.rows != ref.rows || f.columns != ref.columns || f.frames != 1
            || f.samplesPerPixel != ref.samplesPerPixel || f.bitsAllocated != ref.bitsAllocated
            || f.signedPixels != ref.signedPixels)
            continue;
        // The same instance saved twice (another transfer syntax) is one slice.
        if (!f.sopUid.empty() && !seen.insert(f.sopUid).second)
            continue;
        slices.push_back({ file, along(f.position), f.slope, f.intercept,
            f.sopClass == kRtDoseClass && !f.hasFrameCount });
    }
    if (slices.size() < 2)
        return alone;
    std::sort(slices.begin(), slices.end(),
        [](const SeriesSlice& a, const SeriesSlice& b) { return a.distance < b.distance; });
    const double step
        = (slices.back().distance - slices.front().distance) / double(slices.size() - 1);
    bool irregular = false;
    for (std::size_t i = 1; i < slices.size(); ++i) {
        const double gap = slices[i].distance - slices[i - 1].distance;
        if (gap < 1e-4) {
            note = "Plusieurs coupes de la série à la même position : seul le fichier ouvert est "
                   "lu\n";
            return alone;
        }
        irregular = irregular || std::fabs(gap - step) > 0.1 * step;
    }
    if (irregular)
        note = "Espacement irrégulier entre les coupes (coupe manquante ?)\n";
    return slices;
}

std::string firstValue(const gdcm::File& file, const gdcm::Tag& tag)
{
    if (!file.GetDataSet().FindDataElement(tag))
        return {};
    gdcm::StringFilter filter;
    filter.SetFile(file);
    return filter.ToString(tag);
}

int outputType(const ImageFacts& f, bool rescaleEach)
{
    if (f.samplesPerPixel == 3)
        return TYPEDATA_RGBA;
    if (rescaleEach)
        return TYPEDATA_F32;
    switch (f.bitsAllocated) {
    case 1:
        return TYPEDATA_U8;
    case 8:
        return f.signedPixels ? TYPEDATA_S8 : TYPEDATA_U8;
    case 16:
        return f.signedPixels ? TYPEDATA_S16 : TYPEDATA_U16;
    default:
        return f.signedPixels ? TYPEDATA_S32 : TYPEDATA_U32;
    }
}

const char* typeText(int type)
{
    switch (type) {
    case TYPEDATA_U8:
        return "entiers 8 bits non signés";
    case TYPEDATA_S8:
        return "entiers 8 bits signés";
    case TYPEDATA_U16:
        return "entiers 16 bits non signés";
    case TYPEDATA_S16:
        return "entiers 16 bits signés";
    case TYPEDATA_U32:
        return "entiers 32 bits non signés";
    case TYPEDATA_S32:
        return "entiers 32 bits signés";
    case TYPEDATA_F32:
        return "flottants 32 bits";
    default:
        return "RGBA";
    }
}

std::string formatted(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

bool probeDicomFile(const std::string& path, FormatHeader& header, std::string* reason)
{
    std::string why;
    // A DICOMDIR's image is another file: the reason names both, the opened one first.
    auto refuse = [&](const std::string& file, const std::string& text) {
        setReason(reason,
            file == path ? fileReason(path, text) : fileReason(path, fileReason(file, text)));
        return false;
    };
    gdcm::Reader opened;
    if (!readDataSet(path, opened))
        return refuse(path, "fichier DICOM illisible ou incomplet");
    gdcm::MediaStorage storage;
    storage.SetFromFile(opened.GetFile());

    std::vector<std::string> candidates;
    std::unique_ptr<gdcm::Reader> referenceReader;
    const gdcm::Reader* reference = &opened;
    std::string referencePath = path;
    if (storage == gdcm::MediaStorage::MediaStorageDirectoryStorage) {
        if (!directoryFiles(path, opened.GetFile().GetDataSet(), candidates, &why))
            return refuse(path, why);
        referencePath = candidates.front();
        referenceReader = std::make_unique<gdcm::Reader>();
        if (!readDataSet(referencePath, *referenceReader))
            return refuse(referencePath, "fichier DICOM illisible ou incomplet");
        reference = referenceReader.get();
    }
    bool ok = false;
    ImageFacts ref = factsOf(reference->GetFile(), referencePath, ok, &why);
    if (!ok || !checkPixelData(referencePath, reference->GetFile(), ref, &why))
        return refuse(referencePath, why.empty() ? "aucune image dans le fichier" : why);

    std::unordered_map<std::string, const ElementWalk::Layout*> known;
    std::unordered_map<std::string, std::shared_ptr<const Inspection>> inspected;
    if (candidates.empty() && ref.frames == 1 && ref.hasPosition) {
        std::error_code ec;
        std::vector<std::string> others;
        for (const auto& entry :
            fs::directory_iterator(
                fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path(),
                ec)) {
            std::error_code typeError;
            if (entry.is_regular_file(typeError)) {
                const std::string file = fs::path(path).parent_path().empty()
                    ? entry.path().filename().string()
                    : entry.path().string();
                if (file == path)
                    candidates.push_back(file);
                else
                    others.push_back(file);
            }
        }
        std::vector<std::shared_ptr<Inspection>> looks(others.size());
        forEachFile(others.size(), [&](std::size_t i) {
            looks[i] = std::make_shared<Inspection>(inspect(others[i], ref.sopClass));
        });
        for (std::size_t i = 0; i < others.size(); ++i) {
            // A slice cut short in its pixels still belongs to the series: reading it
            // then fails and names it, rather than leaving a silent gap.
            if (looks[i]->storageClass != ref.sopClass || !looks[i]->headerWhole)
                continue;
            candidates.push_back(others[i]);
            if (looks[i]->walked) {
                known.emplace(others[i], &looks[i]->layout);
                inspected.emplace(others[i], looks[i]);
            }
        }
        std::sort(candidates.begin(), candidates.end());
    }
    std::string note;
    const std::vector<SeriesSlice> slices = gatherSeries(ref, candidates, known, note);

    auto state = std::make_shared<DicomState>();
    state->facts = ref;
    for (const SeriesSlice& s : slices) {
        state->files.push_back(s.path);
        state->slopes.push_back(s.slope);
        state->intercepts.push_back(s.intercept);
        state->addFrameCount.push_back(s.addFrameCount);
        const auto walked = inspected.find(s.path);
        state->inspections.push_back(walked == inspected.end() ? nullptr : walked->second);
        state->rescaleEach
            = state->rescaleEach || s.slope != ref.slope || s.intercept != ref.intercept;
    }
    const gdcm::File& file = reference->GetFile();
    header = FormatHeader {};
    header.width = ref.columns;
    header.height = ref.rows;
    header.depth = slices.size() > 1 ? int(slices.size()) : ref.frames;
    header.typeData = outputType(ref, state->rescaleEach);
    if (ref.samplesPerPixel == 1 && !state->rescaleEach && (ref.slope != 1 || ref.intercept != 0)) {
        header.valueScaleOn = true;
        header.valueGain = ref.slope;
        header.valueOffset = ref.intercept;
    }
    std::vector<double> list;
    if ((numbers(firstValue(file, kPixelSpacing), list)
            || numbers(firstValue(file, kImagerSpacing), list))
        && list.size() == 2 && list[0] > 0 && list[1] > 0) {
        header.spacing[0] = list[1]; // between columns
        header.spacing[1] = list[0]; // between rows
    }
    double v = 0;
    if (slices.size() > 1) {
        const double extent = slices.back().distance - slices.front().distance;
        if (extent > 0)
            header.spacing[2] = extent / double(slices.size() - 1);
    } else if (numbers(firstValue(file, kFrameOffsets), list) && list.size() >= 2
        && list[1] != list[0]) {
        header.spacing[2] = std::fabs(list[1] - list[0]);
    } else if (number(firstValue(file, kSliceSpacing), v) && v > 0) {
        header.spacing[2] = v;
    } else if (number(firstValue(file, kSliceThickness), v) && v > 0) {
        header.spacing[2] = v;
    }
    if (ref.hasPosition) {
        const ImageFacts* first = &ref;
        ImageFacts firstFacts;
        if (slices.size() > 1 && slices.front().path != ref.path) {
            // A walked first slice already told its position; others are read.
            std::vector<double> walkedPosition;
            const auto walked = known.find(slices.front().path);
            gdcm::Reader r;
            bool firstOk = false;
            if (walked != known.end()) {
                if (numbers(walkedValue(*walked->second, kPosition), walkedPosition)
                    && walkedPosition.size() == 3) {
                    std::copy(walkedPosition.begin(), walkedPosition.end(), firstFacts.position);
                    first = &firstFacts;
                }
            } else if (readDataSet(slices.front().path, r)) {
                firstFacts = factsOf(r.GetFile(), slices.front().path, firstOk, &why);
                if (firstOk && firstFacts.hasPosition)
                    first = &firstFacts;
            }
        }
        std::copy(first->position, first->position + 3, header.origin);
    }
    std::vector<double> centre, width;
    if (ref.samplesPerPixel == 1 && numbers(firstValue(file, kWindowCentre), centre)
        && numbers(firstValue(file, kWindowWidth), width) && width.front() > 0) {
        header.hasWindow = true;
        header.windowCentre = centre.front();
        header.windowWidth = width.front();
    }

    std::string info = std::string("Format : DICOM, syntaxe de transfert ")
        + file.GetHeader().GetDataSetTransferSyntax().GetString() + "\n";
    const std::string modality = trimmed(firstValue(file, kModality));
    if (!modality.empty())
        info += "Modalité : " + modality + "\n";
    const std::string description = trimmed(firstValue(file, kSeriesDescription));
    if (!description.empty())
        info += "Série : " + description + "\n";
    info += "Taille : " + std::to_string(header.width) + " × " + std::to_string(header.height)
        + " × " + std::to_string(header.depth) + ", " + typeText(header.typeData) + "\n";
    info += "Espacement : " + formatted(header.spacing[0]) + " × " + formatted(header.spacing[1])
        + " × " + formatted(header.spacing[2]) + " mm\n";
    if (slices.size() > 1)
        info += "Fichiers de la série : " + std::to_string(slices.size()) + "\n";
    else if (ref.frames > 1)
        info += "Images dans le fichier : " + std::to_string(ref.frames) + "\n";
    if (header.valueScaleOn)
        info += "Valeurs : stockée × " + formatted(header.valueGain) + " + "
            + formatted(header.valueOffset) + "\n";
    if (state->rescaleEach)
        info += "Pente et ordonnée propres à chaque coupe, appliquées aux valeurs\n";
    if (ref.photometric == "MONOCHROME1")
        info += "Photométrie MONOCHROME1 : les fortes valeurs sont sombres\n";
    header.info = info + note;
    header.state = state;
    return true;
}

bool probeDicom(const std::string& path, FormatHeader& header, std::string* reason)
{
    silenceGdcm();
    try {
        return probeDicomFile(path, header, reason);
    } catch (const std::bad_alloc&) {
        setReason(reason, fileReason(path, "mémoire insuffisante"));
    } catch (...) {
        setReason(reason, fileReason(path, "fichier DICOM illisible"));
    }
    return false;
}

// Decodes one file with GDCM. An RT dose file without a frame count trips an
// assertion in GDCM's image reader: it gets the count (1) before decoding.
bool decodeFile(const std::string& path, bool addFrameCount, gdcm::ImageReader& reader,
    std::stringstream& patched)
{
    if (!structureIsWhole(path))
        return false;
    if (!addFrameCount) {
        reader.SetFileName(path.c_str());
        return reader.Read();
    }
    gdcm::Reader plain;
    if (!readDataSet(path, plain))
        return false;
    gdcm::DataElement frames(kFrames);
    frames.SetVR(gdcm::VR::IS);
    frames.SetByteValue("1 ", 2);
    plain.GetFile().GetDataSet().Replace(frames);
    gdcm::Writer writer;
    writer.SetStream(patched);
    writer.SetFile(plain.GetFile());
    if (!writer.Write())
        return false;
    patched.seekg(0);
    reader.SetStream(patched);
    return reader.Read();
}

template <typename T> double sampleAt(const char* data, std::size_t i)
{
    T v;
    std::memcpy(&v, data + i * sizeof(T), sizeof(T));
    return double(v);
}

double decodedSample(const char* data, gdcm::PixelFormat::ScalarType type, std::size_t i)
{
    switch (type) {
    case gdcm::PixelFormat::SINGLEBIT:
        return (static_cast<unsigned char>(data[i / 8]) >> (i % 8)) & 1;
    case gdcm::PixelFormat::INT8:
        return sampleAt<std::int8_t>(data, i);
    case gdcm::PixelFormat::UINT16:
        return sampleAt<std::uint16_t>(data, i);
    case gdcm::PixelFormat::INT16:
        return sampleAt<std::int16_t>(data, i);
    case gdcm::PixelFormat::UINT32:
        return sampleAt<std::uint32_t>(data, i);
    case gdcm::PixelFormat::INT32:
        return sampleAt<std::int32_t>(data, i);
    case gdcm::PixelFormat::FLOAT32:
        return sampleAt<float>(data, i);
    case gdcm::PixelFormat::FLOAT64:
        return sampleAt<double>(data, i);
    default:
        return sampleAt<std::uint8_t>(data, i);
    }
}

template <typename T> void storeClamped(void* out, std::size_t i, double v)
{
    v = std::clamp(
        v, double(std::numeric_limits<T>::lowest()), double(std::numeric_limits<T>::max()));
    static_cast<T*>(out)[i] = T(v);
}

void storeSample(void* out, int type, std::size_t i, double v)
{
    switch (type) {
    case TYPEDATA_U8:
        return storeClamped<std::uint8_t>(out, i, v);
    case TYPEDATA_S8:
        return storeClamped<std::int8_t>(out, i, v);
    case TYPEDATA_U16:
        return storeClamped<std::uint16_t>(out, i, v);
    case TYPEDATA_S16:
        return storeClamped<std::int16_t>(out, i, v);
    case TYPEDATA_U32:
        return storeClamped<std::uint32_t>(out, i, v);
    case TYPEDATA_S32:
        return storeClamped<std::int32_t>(out, i, v);
    default:
        return storeClamped<float>(out, i, v);
    }
}

std::uint8_t clampByte(double v)
{
    return std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// Interleaved (or planar) RGB or full-range YCbCr bytes to RGBA.
void toRgba(const char* data, std::size_t pixels, bool planar, bool ybr, std::uint8_t* out)
{
    for (std::size_t i = 0; i < pixels; ++i) {
        std::uint8_t c[3];
        for (int k = 0; k < 3; ++k)
            c[k] = static_cast<std::uint8_t>(
                planar ? data[std::size_t(k) * pixels + i] : data[3 * i + std::size_t(k)]);
        if (ybr) {
            const double y = c[0], cb = c[1] - 128.0, cr = c[2] - 128.0;
            c[0] = clampByte(y + 1.402 * cr);
            c[1] = clampByte(y - 0.344136 * cb - 0.714136 * cr);
            c[2] = clampByte(y + 1.772 * cb);
        }
        out[4 * i] = c[0];
        out[4 * i + 1] = c[1];
        out[4 * i + 2] = c[2];
        out[4 * i + 3] = 255;
    }
}

// Grey samples stored uncompressed, using every bit of their width, are already
// the block's bytes (big-endian ones once swapped): they are read straight into
// place. Anything else (compressed, packed or partly used bits, colour, a
// description that differs from the series, pixel data cut short) is left to
// GDCM, which also names what is wrong.
// probed: how the probe found the file, used when the file is still that one.
bool readStoredPixels(const std::string& file, const Inspection* probed, const ImageFacts& expected,
    int frames, char* out, std::size_t bytes)
{
    const FdCloser opened { ::open(file.c_str(), O_RDONLY | O_CLOEXEC) };
    struct stat st { };
    Inspection fresh;
    if (!probed || opened.fd < 0 || ::fstat(opened.fd, &st) != 0 || !stillInspected(*probed, st)) {
        fresh = inspectOpen(opened.fd, {});
        probed = &fresh;
    }
    const Inspection& in = *probed;
    const ElementWalk::Layout& l = in.layout;
    const bool big = in.syntax == "1.2.840.10008.1.2.2";
    if (!in.dicm || !in.walked || !in.whole || !l.pixels
        || (in.syntax != "1.2.840.10008.1.2" && in.syntax != "1.2.840.10008.1.2.1" && !big))
        return false;
    double declared = 1;
    if (!l.frames.empty()
        && (!number(l.frames, declared) || declared < 0 || declared != std::floor(declared)))
        return false;
    const int bits = expected.bitsAllocated;
    if (std::max(1, int(declared)) != frames || l.rows != expected.rows
        || l.columns != expected.columns || l.samplesPerPixel != 1 || l.bitsAllocated != bits
        || l.bitsStored != bits || l.highBit != bits - 1
        || l.pixelRepresentation != (expected.signedPixels ? 1 : 0)
        || (l.photometric != "MONOCHROME1" && l.photometric != "MONOCHROME2")
        || l.pixelLength < bytes)
        return false;
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got
            = ::pread(opened.fd, out + done, bytes - done, off_t(l.pixelOffset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    if (big && bits == 16) {
        for (std::size_t i = 0; i + 2 <= bytes; i += 2)
            std::swap(out[i], out[i + 1]);
    } else if (big && bits == 32) {
        for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
            std::swap(out[i], out[i + 3]);
            std::swap(out[i + 1], out[i + 2]);
        }
    }
    return true;
}

bool readDicomFiles(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    const auto* s = static_cast<const DicomState*>(header.state.get());
    const int framesPerFile = s ? (s->files.size() > 1 ? 1 : s->facts.frames) : 0;
    if (!s || !samples || s->files.empty() || header.width != s->facts.columns
        || header.height != s->facts.rows
        || std::size_t(header.depth) != s->files.size() * std::size_t(framesPerFile)) {
        setReason(reason, fileReason(path, "en-tête DICOM non lu avant les échantillons"));
        return false;
    }
    const std::size_t framePixels = std::size_t(header.width) * std::size_t(header.height);
    const std::size_t filePixels = framePixels * std::size_t(framesPerFile);
    const int outType = header.typeData;
    const std::size_t outSize = std::size_t(vexaTypeSize(outType));
    const bool storedIsBlock = !s->rescaleEach && s->facts.samplesPerPixel == 1
        && (s->facts.bitsAllocated == 8 || s->facts.bitsAllocated == 16
            || s->facts.bitsAllocated == 32)
        && outType == outputType(s->facts, false);
    const std::size_t fileCount = s->files.size();
    // The files read straight into place, on two threads: each writes its own slice.
    std::vector<unsigned char> stored(fileCount, 0);
    if (storedIsBlock)
        forEachFile(fileCount, [&](std::size_t n) {
            stored[n] = !s->addFrameCount[n]
                && readStoredPixels(s->files[n],
                    n < s->inspections.size() ? s->inspections[n].get() : nullptr, s->facts,
                    framesPerFile, static_cast<char*>(samples) + n * filePixels * outSize,
                    filePixels * outSize);
        });
    std::vector<char> decoded;
    for (std::size_t n = 0; n < fileCount; ++n) {
        const std::string& file = s->files[n];
        if (stored[n])
            continue;
        gdcm::ImageReader reader;
        std::stringstream patched;
        if (!decodeFile(file, s->addFrameCount[n], reader, patched)) {
            setReason(reason, fileReason(file, "fichier DICOM illisible ou incomplet"));
            return false;
        }
        const gdcm::Image& image = reader.GetImage();
        const unsigned* dims = image.GetDimensions();
        const unsigned frames = image.GetNumberOfDimensions() > 2 ? dims[2] : 1;
        const gdcm::PixelFormat& pf = image.GetPixelFormat();
        const ImageFacts& expected = s->facts;
        bool ok = false;
        std::string why;
        ImageFacts now = factsOf(reader.GetFile(), file, ok, &why);
        if (!ok || int(dims[0]) != header.width || int(dims[1]) != header.height
            || int(frames) != framesPerFile || pf.GetSamplesPerPixel() != expected.samplesPerPixel
            || now.bitsAllocated != expected.bitsAllocated) {
            setReason(reason,
                fileReason(file, "image de taille ou de type différents du reste de la série"));
            return false;
        }
        if (!checkPixelData(file, reader.GetFile(), now, &why)) {
            setReason(reason, fileReason(file, why));
            return false;
        }
        const std::size_t length = image.GetBufferLength();
        const std::size_t count = filePixels * std::size_t(pf.GetSamplesPerPixel());
        const unsigned bits = pf.GetBitsAllocated();
        const std::size_t needed = bits == 1 ? (count + 7) / 8 : count * std::size_t(bits / 8);
        if (length != needed || (bits != 1 && bits % 8 != 0)) {
            setReason(reason,
                fileReason(file, "image de taille ou de type différents du reste de la série"));
            return false;
        }
        decoded.resize(length);
        if (!image.GetBuffer(decoded.data())) {
            setReason(reason, fileReason(file, "décodage de l'image impossible"));
            return false;
        }
        // GDCM swaps big-endian pixel data by 16-bit words: 32-bit samples come out
        // with their halves exchanged.
        if (bits == 32
            && reader.GetFile().GetHeader().GetDataSetTransferSyntax()
                == gdcm::TransferSyntax::ExplicitVRBigEndian)
            for (std::size_t i = 0; i + 4 <= length; i += 4) {
                std::swap(decoded[i], decoded[i + 2]);
                std::swap(decoded[i + 1], decoded[i + 3]);
            }
        char* out = static_cast<char*>(samples) + n * filePixels * outSize;
        if (outType == TYPEDATA_RGBA) {
            const auto pi = image.GetPhotometricInterpretation();
            const bool ybr = pi == gdcm::PhotometricInterpretation::YBR_FULL
                || pi == gdcm::PhotometricInterpretation::YBR_FULL_422;
            for (unsigned f = 0; f < frames; ++f)
                toRgba(decoded.data() + std::size_t(f) * framePixels * 3, framePixels,
                    image.GetPlanarConfiguration() == 1, ybr,
                    reinterpret_cast<std::uint8_t*>(out) + std::size_t(f) * framePixels * 4);
            continue;
        }
        const gdcm::PixelFormat::ScalarType st = pf.GetScalarType();
        const bool sameLayout = !s->rescaleEach
            && ((outType == TYPEDATA_U8 && st == gdcm::PixelFormat::UINT8)
                || (outType == TYPEDATA_S8 && st == gdcm::PixelFormat::INT8)
                || (outType == TYPEDATA_U16 && st == gdcm::PixelFormat::UINT16)
                || (outType == TYPEDATA_S16 && st == gdcm::PixelFormat::INT16)
                || (outType == TYPEDATA_U32 && st == gdcm::PixelFormat::UINT32)
                || (outType == TYPEDATA_S32 && st == gdcm::PixelFormat::INT32));
        if (sameLayout) {
            std::memcpy(out, decoded.data(), filePixels * outSize);
            continue;
        }
        const double slope = s->rescaleEach ? s->slopes[n] : 1;
        const double intercept = s->rescaleEach ? s->intercepts[n] : 0;
        for (std::size_t i = 0; i < filePixels; ++i)
            storeSample(out, outType, i, decodedSample(decoded.data(), st, i) * slope + intercept);
    }
    return true;
}

bool readDicom(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    silenceGdcm();
    try {
        return readDicomFiles(path, header, samples, reason);
    } catch (const std::bad_alloc&) {
        setReason(reason, fileReason(path, "mémoire insuffisante"));
    } catch (...) {
        setReason(reason, fileReason(path, "fichier DICOM illisible"));
    }
    return false;
}

} // namespace

const FormatReader& dicomReader()
{
    static const FormatReader r { "DICOM", "*.dcm DICOMDIR", sniffDicom, probeDicom, readDicom };
    return r;
}

} // namespace vexa
