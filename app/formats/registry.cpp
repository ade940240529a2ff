#include "formats/formats.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "vexa_reason.hpp"

namespace vexa {

namespace {

std::string lowered(std::string text)
{
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// True when the file name ends with one of the "*.ext" patterns.
bool matchesPatterns(const std::string& path, const char* patterns)
{
    if (!patterns)
        return false;
    const std::string name = lowered(path);
    std::string all(patterns);
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find(' ', at);
        if (end == std::string::npos)
            end = all.size();
        std::string pattern = lowered(all.substr(at, end - at));
        at = end + 1;
        if (pattern.rfind("*", 0) == 0)
            pattern.erase(0, 1);
        if (!pattern.empty() && name.size() >= pattern.size()
            && name.compare(name.size() - pattern.size(), pattern.size(), pattern) == 0)
            return true;
    }
    return false;
}

} // namespace

const std::vector<FormatReader>& formatReaders()
{
    static const std::vector<FormatReader> readers = [] {
        std::vector<FormatReader> all;
        // DICOM first: its 128-byte preamble may hold a TIFF header (files readable as
        // both), and the "DICM" mark after it is the stronger claim.
        for (const FormatReader* r :
            { &dicomReader(), &tiffLibraryReader(), &niftiReader(), &segyReader(), &nrrdReader(),
                &metaImageReader(), &inrReader(), &vtkImageReader() })
            if (r->name && r->sniff && r->probe && r->read)
                all.push_back(*r);
        return all;
    }();
    return readers;
}

const std::vector<FormatWriter>& formatWriters()
{
    static const std::vector<FormatWriter> writers = [] {
        std::vector<FormatWriter> all;
        for (const FormatWriter* w :
            { &niftiWriter(), &nrrdWriter(), &metaImageWriter(), &tiffWriter(), &segyWriter() })
            if (w->name && w->accepts && w->write)
                all.push_back(*w);
        return all;
    }();
    return writers;
}

std::string formatHead(const std::string& path)
{
    std::string head;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return head;
    head.resize(kFormatHeadBytes);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    std::fclose(f);
    return head;
}

const FormatReader* formatReaderFor(const std::string& path, const std::string& head)
{
    for (const FormatReader& reader : formatReaders())
        if (reader.sniff(path, head))
            return &reader;
    return nullptr;
}

const FormatWriter* formatWriterFor(const std::string& path)
{
    for (const FormatWriter& writer : formatWriters())
        if (matchesPatterns(path, writer.patterns))
            return &writer;
    return nullptr;
}

std::string formatUnsupportedReason(const std::string& path, const std::string& head)
{
    auto at = [&](std::size_t offset, std::string_view magic) {
        return head.size() >= offset + magic.size()
            && std::string_view(head).substr(offset, magic.size()) == magic;
    };
    auto named = [&](const char* suffix) { return matchesPatterns(path, suffix); };
    auto int32At = [&](std::size_t offset, bool bigEndian) -> std::int64_t {
        if (head.size() < offset + 4)
            return -1;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const auto byte
                = static_cast<unsigned char>(head[offset + std::size_t(bigEndian ? i : 3 - i)]);
            v = (v << 8) | byte;
        }
        return v;
    };
    const char* format = nullptr;
    using namespace std::string_view_literals;
    if (at(0, "\x89HDF\r\n\x1a\n"sv) || at(512, "\x89HDF\r\n\x1a\n"sv))
        format = named("*.mnc") ? "MINC" : "HDF5";
    else if (at(0, "CDF\x01"sv) || at(0, "CDF\x02"sv))
        format = named("*.mnc") ? "MINC" : "NetCDF";
    else if (at(0, "\x89PNG\r\n\x1a\n"sv))
        format = "PNG";
    else if (at(0, "\xff\xd8\xff"sv))
        format = "JPEG";
    else if (at(0, "GIF87a"sv) || at(0, "GIF89a"sv))
        format = "GIF";
    else if (at(0, "BM"sv) && (named("*.bmp") || at(6, "\0\0\0\0"sv)))
        format = "BMP";
    else if (at(0, "II*\0"sv) || at(0, "MM\0*"sv) || at(0, "II+\0"sv) || at(0, "MM\0+"sv))
        format = "TIFF";
    else if (at(128, "DICM"sv))
        format = "DICOM";
    else if (at(344, "n+1\0"sv) || at(344, "ni1\0"sv) || at(4, "n+2\0"sv) || at(4, "ni2\0"sv))
        format = "NIfTI";
    else if ((int32At(0, false) == 348 || int32At(0, true) == 348)
        && (named("*.hdr") || named("*.img")))
        format = "Analyze 7.5";
    else if (at(0, "NRRD000"sv))
        format = "NRRD";
    else if (at(0, "#INRIMAGE-4#{"sv))
        format = "INRIA";
    else if (at(0, "# vtk DataFile"sv))
        format = "VTK";
    else if (named("*.mha *.mhd"))
        format = "MetaImage";
    else if (named("*.sgy *.segy"))
        format = "SEG-Y";
    else if (named("*.mgh *.mgz"))
        format = "MGH";
    else if (at(0, "ply\n"sv) || at(0, "ply\r\n"sv))
        format = "PLY";
    else if (at(0, "%PDF"sv))
        format = "PDF";
    else if (at(0, "PK\x03\x04"sv))
        format = "ZIP";
    else if (at(0, "\x1f\x8b"sv))
        format = "gzip";
    else if (at(0, "BA"sv) && at(14, "BM"sv))
        format = "BMP (tableau d'images)";
    else if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7'
        && std::isspace(static_cast<unsigned char>(head[2])))
        format = "PNM";
    else if (at(0, "<?xml"sv) || at(0, "\xef\xbb\xbf<?xml"sv) || (named("*.xml") && at(0, "<"sv)))
        format = "XML";
    else if (at(0, "<!DOCTYPE html"sv) || at(0, "<!DOCTYPE HTML"sv) || at(0, "<html"sv))
        format = "HTML";
    if (!format)
        return {};
    return fileReason(path, std::string("format ") + format + " non pris en charge");
}

} // namespace vexa
