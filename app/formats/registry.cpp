#include "formats/formats.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

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
        for (const FormatReader* r :
            { &tiffLibraryReader(), &niftiReader(), &segyReader(), &dicomReader(), &nrrdReader(),
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
    (void)path;
    (void)head;
    return {};
}

} // namespace vexa
