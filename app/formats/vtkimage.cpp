// Legacy VTK files holding an image (DATASET STRUCTURED_POINTS): a version line, a
// title, ASCII or BINARY, the geometry, then one SCALARS array, big-endian when
// binary. Polygon files of the same extension are the mesh opener's.
#include "formats/formats.h"
#include "formats/textheader.h"

#include "vexa_reason.hpp"
#include "vexa_types.h"

#include <limits>
#include <map>
#include <memory>

namespace vexa {

namespace {

using namespace textheader;

bool fail(std::string* reason, const std::string& path, const std::string& text)
{
    setReason(reason, fileReason(path, text));
    return false;
}

bool sniffVtk(const std::string& path, const std::string& head)
{
    (void)path;
    if (head.rfind("# vtk DataFile", 0) != 0)
        return false;
    // The dataset line comes within the first few lines.
    const std::size_t dataset = head.find("DATASET");
    if (dataset == std::string::npos)
        return false;
    const std::size_t end = head.find('\n', dataset);
    const std::vector<std::string> w = words(head.substr(dataset, end - dataset));
    return w.size() >= 2 && w[1] == "STRUCTURED_POINTS";
}

int vtkType(const std::string& word)
{
    static const std::map<std::string, int> kTypes = {
        { "unsigned_char", TYPEDATA_U8 },
        { "char", TYPEDATA_S8 },
        { "signed_char", TYPEDATA_S8 },
        { "unsigned_short", TYPEDATA_U16 },
        { "short", TYPEDATA_S16 },
        { "unsigned_int", TYPEDATA_U32 },
        { "int", TYPEDATA_S32 },
        { "float", TYPEDATA_F32 },
        { "double", TYPEDATA_F64 },
    };
    const auto it = kTypes.find(word);
    return it == kTypes.end() ? 0 : it->second;
}

struct VtkState {
    SampleLayout layout;
};

bool probeVtk(const std::string& path, FormatHeader& header, std::string* reason)
{
    header = FormatHeader();
    std::string text;
    if (!readStart(path, kMaxHeaderBytes, text))
        return fail(reason, path, "fichier illisible");
    if (text.rfind("# vtk DataFile", 0) != 0)
        return fail(reason, path, "entête VTK absent");
    std::vector<std::string> lines;
    std::size_t at = 0;
    std::int64_t dataStart = -1;
    bool binary = false, formatSeen = false, datasetSeen = false;
    std::int64_t dims[3] = { 0, 0, 0 };
    std::int64_t pointCount = -1;
    int type = 0, components = 1;
    std::string info;
    int lineNumber = 0;
    while (at < text.size() && dataStart < 0) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return fail(reason, path, "entête VTK incomplet");
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        ++lineNumber;
        if (lineNumber == 1)
            continue;
        if (lineNumber == 2) {
            if (!trimmed(line).empty())
                info += trimmed(line) + "\n";
            continue;
        }
        const std::vector<std::string> w = words(line);
        if (w.empty())
            continue;
        const std::string key = lowered(w[0]);
        if (!formatSeen) {
            if (key != "ascii" && key != "binary")
                return fail(reason, path, "ni ASCII ni BINARY après le titre");
            binary = key == "binary";
            formatSeen = true;
            continue;
        }
        info += trimmed(line) + "\n";
        if (key == "dataset") {
            if (w.size() < 2 || w[1] != "STRUCTURED_POINTS")
                return fail(reason, path, "jeu de données autre qu'une image (STRUCTURED_POINTS)");
            datasetSeen = true;
        } else if (key == "dimensions") {
            if (w.size() < 4)
                return fail(reason, path, "DIMENSIONS incomplet");
            for (int i = 0; i < 3; ++i)
                if (!toInt64(w[std::size_t(i + 1)], dims[i]) || dims[i] < 1
                    || dims[i] > std::numeric_limits<std::int32_t>::max())
                    return fail(reason, path, "DIMENSIONS invalide : " + w[std::size_t(i + 1)]);
        } else if (key == "spacing" || key == "aspect_ratio") {
            for (int i = 0; i < 3 && std::size_t(i + 1) < w.size(); ++i) {
                double v = 0;
                if (toDouble(w[std::size_t(i + 1)], v) && v > 0)
                    header.spacing[i] = v;
            }
        } else if (key == "origin") {
            for (int i = 0; i < 3 && std::size_t(i + 1) < w.size(); ++i) {
                double v = 0;
                if (toDouble(w[std::size_t(i + 1)], v))
                    header.origin[i] = v;
            }
        } else if (key == "point_data") {
            if (w.size() < 2 || !toInt64(w[1], pointCount) || pointCount < 0)
                return fail(reason, path, "POINT_DATA invalide");
        } else if (key == "cell_data") {
            return fail(reason, path, "seules les valeurs aux points (POINT_DATA) sont lues");
        } else if (key == "scalars") {
            if (w.size() < 3)
                return fail(reason, path, "SCALARS incomplet");
            type = vtkType(w[2]);
            if (type == 0)
                return fail(reason, path, "type « " + w[2] + " » non pris en charge");
            std::int64_t n = 1;
            if (w.size() >= 4 && (!toInt64(w[3], n) || n < 1 || n > 4))
                return fail(reason, path, "nombre de composantes invalide : " + w[3]);
            components = int(n);
        } else if (key == "lookup_table") {
            if (type == 0)
                return fail(reason, path, "LOOKUP_TABLE sans SCALARS");
            dataStart = std::int64_t(at);
        } else if (key == "field" || key == "vectors" || key == "normals" || key == "tensors"
            || key == "color_scalars" || key == "texture_coordinates") {
            return fail(
                reason, path, "données « " + w[0] + " » non prises en charge (SCALARS seulement)");
        }
    }
    if (!datasetSeen)
        return fail(reason, path, "DATASET STRUCTURED_POINTS absent");
    if (dataStart < 0)
        return fail(reason, path, "SCALARS et LOOKUP_TABLE absents");
    SampleLayout layout;
    layout.headerPath = path;
    if (components != 1) {
        if (type != TYPEDATA_U8 || components < 3)
            return fail(reason, path, "valeurs à plusieurs composantes non prises en charge");
        layout.components = components;
    }
    const int sampleType = layout.components > 1 ? TYPEDATA_RGBA : type;
    if (!sizesAcceptable(path, dims[0], dims[1], dims[2], sampleType, reason))
        return false;
    if (pointCount != dims[0] * dims[1] * dims[2])
        return fail(reason, path, "POINT_DATA ne correspond pas à DIMENSIONS");
    layout.encoding = binary ? Encoding::Raw : Encoding::Ascii;
    layout.bigEndian = true;
    layout.parts.push_back({ path, dataStart, 0 });
    header.width = int(dims[0]);
    header.height = int(dims[1]);
    header.depth = int(dims[2]);
    header.typeData = sampleType;
    if (!rawPartsComplete(header, layout, reason))
        return false;
    header.info = info;
    auto state = std::make_shared<VtkState>();
    state->layout = std::move(layout);
    header.state = state;
    return true;
}

bool readVtk(
    const std::string& path, const FormatHeader& header, void* samples, std::string* reason)
{
    FormatHeader fresh;
    const FormatHeader* use = &header;
    if (!header.state) {
        if (!probeVtk(path, fresh, reason))
            return false;
        use = &fresh;
    }
    return readSamples(
        *use, std::static_pointer_cast<VtkState>(use->state)->layout, samples, reason);
}

} // namespace

const FormatReader& vtkImageReader()
{
    static const FormatReader r { "Image VTK", "*.vtk", sniffVtk, probeVtk, readVtk };
    return r;
}

} // namespace vexa
