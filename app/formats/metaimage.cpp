// MetaImage: "Key = Value" lines ending with ElementDataFile; the samples follow in
// the same file (.mha, "LOCAL") or live in the files it names (.mhd).
#include "formats/formats.h"
#include "formats/textheader.h"

#include "vexa_reason.hpp"
#include "vexa_types.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>

namespace vexa {

namespace {

using namespace textheader;

constexpr int kMaxDataFiles = 1 << 16;

bool fail(std::string* reason, const std::string& path, const std::string& text)
{
    setReason(reason, fileReason(path, text));
    return false;
}

// The key of a "Key = Value" line, lower case; empty when the line is not one.
std::string keyOf(const std::string& line, std::string* value)
{
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos)
        return {};
    const std::string key = trimmed(line.substr(0, eq));
    if (key.empty() || key.find_first_of(" \t") != std::string::npos)
        return {};
    if (value)
        *value = trimmed(line.substr(eq + 1));
    return lowered(key);
}

bool sniffMeta(const std::string& path, const std::string& head)
{
    // The first key says it: files of this kind begin with one of these.
    std::size_t end = head.find('\n');
    if (end == std::string::npos)
        end = head.size();
    const std::string key = keyOf(head.substr(0, end), nullptr);
    if (key == "objecttype" || key == "ndims")
        return true;
    return (endsWith(path, ".mha") || endsWith(path, ".mhd"))
        && (key == "comment" || key == "objectsubtype")
        && head.find("ElementDataFile") != std::string::npos;
}

int metaType(const std::string& word)
{
    static const std::map<std::string, int> kTypes = {
        { "MET_CHAR", TYPEDATA_S8 },
        { "MET_UCHAR", TYPEDATA_U8 },
        { "MET_SHORT", TYPEDATA_S16 },
        { "MET_USHORT", TYPEDATA_U16 },
        { "MET_INT", TYPEDATA_S32 },
        { "MET_UINT", TYPEDATA_U32 },
        { "MET_FLOAT", TYPEDATA_F32 },
        { "MET_DOUBLE", TYPEDATA_F64 },
    };
    const auto it = kTypes.find(word);
    return it == kTypes.end() ? 0 : it->second;
}

bool isTrue(const std::string& value)
{
    const std::string v = lowered(value);
    return v == "true" || v == "1" || v == "yes";
}

struct MetaState {
    SampleLayout layout;
};

bool probeMeta(const std::string& path, FormatHeader& header, std::string* reason)
{
    std::string text;
    if (!readStart(path, kMaxHeaderBytes, text))
        return fail(reason, path, "fichier illisible");
    std::map<std::string, std::string> fields;
    std::string info;
    std::size_t at = 0;
    std::int64_t dataStart = -1;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            if (text.size() == kMaxHeaderBytes)
                return fail(reason, path, "entête MetaImage trop long");
            end = text.size();
        }
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::string value;
        const std::string key = keyOf(line, &value);
        if (key.empty())
            continue;
        info += line + "\n";
        fields[key] = value;
        if (key == "elementdatafile") {
            dataStart = std::int64_t(std::min(at, text.size()));
            break;
        }
    }
    auto field = [&](const char* name) -> std::string {
        const auto it = fields.find(name);
        return it == fields.end() ? std::string() : it->second;
    };
    if (dataStart < 0)
        return fail(reason, path, "champ « ElementDataFile » absent");
    const std::string object = lowered(field("objecttype"));
    if (!object.empty() && object != "image")
        return fail(reason, path, "objet « " + field("objecttype") + " » non pris en charge");

    std::int64_t dims = 0;
    if (!toInt64(field("ndims"), dims) || dims < 1 || dims > 16)
        return fail(reason, path, "champ « NDims » absent ou invalide");
    std::vector<std::int64_t> sizes;
    for (const std::string& w : words(field("dimsize"))) {
        std::int64_t s = 0;
        if (!toInt64(w, s) || s < 1 || s > std::numeric_limits<std::int32_t>::max())
            return fail(reason, path, "taille invalide dans « DimSize » : " + w);
        sizes.push_back(s);
    }
    if (std::int64_t(sizes.size()) != dims)
        return fail(reason, path, "« DimSize » ne donne pas une taille par axe");
    const std::string typeWord = field("elementtype");
    const int type = metaType(typeWord);
    if (type == 0)
        return fail(reason, path,
            typeWord.empty() ? "champ « ElementType » absent"
                             : "type « " + typeWord + " » non pris en charge");
    SampleLayout layout;
    layout.headerPath = path;
    std::int64_t channels = 1;
    if (!field("elementnumberofchannels").empty()
        && !toInt64(field("elementnumberofchannels"), channels))
        channels = 0;
    if (channels != 1) {
        if (type != TYPEDATA_U8 || (channels != 3 && channels != 4))
            return fail(reason, path,
                "nombre de canaux « " + field("elementnumberofchannels") + " » non pris en charge");
        layout.components = int(channels);
    }
    std::int64_t w = sizes[0], h = sizes.size() > 1 ? sizes[1] : 1, d = 1;
    for (std::size_t i = 2; i < sizes.size(); ++i) {
        if (d > std::numeric_limits<std::int32_t>::max() / sizes[i])
            return fail(reason, path, "dimensions trop grandes dans l'entête");
        d *= sizes[i];
    }
    const int sampleType = layout.components > 1 ? TYPEDATA_RGBA : type;
    if (!sizesAcceptable(path, w, h, d, sampleType, reason))
        return false;

    std::string order = field("elementbyteordermsb");
    if (order.empty())
        order = field("binarydatabyteordermsb");
    layout.bigEndian = isTrue(order);
    layout.encoding = isTrue(field("compresseddata")) ? Encoding::Gzip : Encoding::Raw;
    std::int64_t skip = 0;
    if (!field("headersize").empty() && (!toInt64(field("headersize"), skip) || skip < -1))
        return fail(reason, path, "champ « HeaderSize » invalide");
    if (skip == -1 && layout.encoding != Encoding::Raw)
        return fail(reason, path, "« HeaderSize = -1 » n'est permis que sans compression");

    const std::string dataFile = field("elementdatafile");
    std::vector<std::string> files;
    const std::vector<std::string> parts = words(dataFile);
    if (parts.empty())
        return fail(reason, path, "champ « ElementDataFile » vide");
    if (lowered(parts[0]) == "local") {
        files.push_back(path);
    } else if (lowered(parts[0]) == "list") {
        for (const std::string& name : words(text.substr(std::size_t(dataStart)))) {
            if (files.size() >= std::size_t(kMaxDataFiles))
                return fail(reason, path, "trop de fichiers de données");
            files.push_back(besideHeader(path, name));
        }
    } else if (parts.size() >= 4 && parts[0].find('%') != std::string::npos) {
        std::int64_t from = 0, to = 0, step = 0;
        if (!toInt64(parts[1], from) || !toInt64(parts[2], to) || !toInt64(parts[3], step)
            || step <= 0 || to < from || (to - from) / step >= kMaxDataFiles)
            return fail(reason, path, "liste de fichiers de données invalide");
        const std::string& pattern = parts[0];
        const std::size_t pct = pattern.find('%');
        const std::size_t conv = pattern.find_first_not_of("0123456789", pct + 1);
        if (pattern.find('%', pct + 1) != std::string::npos || conv == std::string::npos
            || pattern[conv] != 'd')
            return fail(reason, path, "modèle de nom de fichier de données invalide");
        for (std::int64_t i = from; i <= to; i += step) {
            char name[4096];
            std::snprintf(name, sizeof name, pattern.c_str(), int(i));
            files.push_back(besideHeader(path, name));
        }
    } else {
        files.push_back(besideHeader(path, dataFile));
    }
    if (files.empty())
        return fail(reason, path, "aucun fichier de données");
    if (files.size() > 1 && (sizes.size() < 2 || sizes.back() % std::int64_t(files.size()) != 0))
        return fail(reason, path, "le nombre de fichiers de données ne divise pas le dernier axe");
    for (const std::string& file : files) {
        DataPart part;
        part.path = file;
        part.offset = skip == -1 ? -1 : (file == path ? dataStart : 0) + skip;
        layout.parts.push_back(part);
    }

    header = FormatHeader();
    header.width = int(w);
    header.height = int(h);
    header.depth = int(d);
    header.typeData = sampleType;
    if (!rawPartsComplete(header, layout, reason))
        return false;
    std::string spacing = field("elementspacing");
    if (spacing.empty())
        spacing = field("elementsize");
    int axis = 0;
    for (const std::string& s : words(spacing)) {
        double v = 0;
        if (axis < 3 && toDouble(s, v) && v > 0)
            header.spacing[axis] = v;
        ++axis;
    }
    std::string origin = field("offset");
    if (origin.empty())
        origin = field("position");
    if (origin.empty())
        origin = field("origin");
    axis = 0;
    for (const std::string& s : words(origin)) {
        double v = 0;
        if (axis < 3 && toDouble(s, v))
            header.origin[axis] = v;
        ++axis;
    }
    header.info = info;
    auto state = std::make_shared<MetaState>();
    state->layout = std::move(layout);
    header.state = state;
    return true;
}

bool readMeta(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    FormatHeader fresh;
    const FormatHeader* use = &header;
    if (!header.state) {
        if (!probeMeta(path, fresh, reason))
            return false;
        use = &fresh;
    }
    return readSamples(
        *use, std::static_pointer_cast<MetaState>(use->state)->layout, samples, reason);
}

bool acceptsAny(int typeData)
{
    return vexaTypeIsValid(typeData) && *typeWordMeta(typeData) != '\0';
}

bool writeMeta(const std::string& path, const FormatBlockView& block, std::string* reason)
{
    if (!acceptsAny(block.typeData)) {
        setReason(reason, fileReason(path, "type d'échantillon non pris en charge en MetaImage"));
        return false;
    }
    const bool volume = block.depth > 1;
    char line[256];
    std::string text = "ObjectType = Image\n";
    text += volume ? "NDims = 3\n" : "NDims = 2\n";
    text += "BinaryData = True\nBinaryDataByteOrderMSB = False\nCompressedData = False\n";
    auto triple = [&](const char* key, const double* v) {
        text += key;
        for (int i = 0; i < (volume ? 3 : 2); ++i) {
            std::snprintf(line, sizeof line, " %.17g", v[i]);
            text += line;
        }
        text += "\n";
    };
    triple("Offset =", block.origin);
    triple("ElementSpacing =", block.spacing);
    text += "DimSize = " + std::to_string(block.width) + " " + std::to_string(block.height)
        + (volume ? " " + std::to_string(block.depth) : std::string()) + "\n";
    if (block.typeData == TYPEDATA_RGBA)
        text += "ElementNumberOfChannels = 4\n";
    text += std::string("ElementType = ") + typeWordMeta(block.typeData) + "\n";
    text += "ElementDataFile = LOCAL\n";
    return writeHeaderAndSamples(path, text, block, reason);
}

} // namespace

const FormatReader& metaImageReader()
{
    static const FormatReader r { "MetaImage", "*.mha *.mhd", sniffMeta, probeMeta, readMeta };
    return r;
}

const FormatWriter& metaImageWriter()
{
    static const FormatWriter w { "MetaImage", ".mha", "*.mha", acceptsAny, writeMeta };
    return w;
}

} // namespace vexa
