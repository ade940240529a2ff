#include "data/newdata.h"

#include "data/dataopen.h"
#include "data/graphapi.h"
#include "data/registry.h"
#include "params/paramapi.h"
#include "vexa_reason.hpp"
#include "vexamem.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

namespace vexa {

namespace {

constexpr int kFormatTypes[] = { TYPEDATA_U8, TYPEDATA_S8, TYPEDATA_U16, TYPEDATA_S16, TYPEDATA_U32,
    TYPEDATA_S32, TYPEDATA_F32, TYPEDATA_F64, TYPEDATA_RGBA };

constexpr const char* kImage2dDescription
    = "w%dh%dFormat Donnée%tEntier 8 Bits Non Signé,Entier 8 Bits Signé,Entier 16 Bits Non "
      "Signé,Entier 16 Bits Signé,Entier 32 Bits Non Signé,Entier 32 Bits Signé,Flottant 32 "
      "Bits,Flottant 64 Bits,RGBA%l";
constexpr const char* kImage3dDescription
    = "w%dh%dd%dFormat Donnée%tEntier 8 Bits Non Signé,Entier 8 Bits Signé,Entier 16 Bits Non "
      "Signé,Entier 16 Bits Signé,Entier 32 Bits Non Signé,Entier 32 Bits Signé,Flottant 32 "
      "Bits,Flottant 64 Bits,RGBA%lVide,Aléatoire,Autre%l%n";

// Samples filled per call of the element-wise paste, so the scratch array of
// doubles stays small whatever the slice size.
constexpr std::int64_t kFillBatch = 1 << 20;

std::mutex gNewDataMutex;
NewDataSettings gRemembered;

// A draw of rand() brought to 0 ... 32767 whatever RAND_MAX is, so the values keep
// the range 0 ... 256 that the content promises.
int drawRand15()
{
    const long long r = std::rand();
    return int(r * 32768 / (static_cast<long long>(RAND_MAX) + 1));
}

bool fillBlock(BlockDescriptor& b, int content, const NewDataProceed& proceed)
{
    const int W = b.dimX, H = b.dimY, D = b.dimZ;
    const int rowsPerBatch = int(std::clamp<std::int64_t>(kFillBatch / W, 1, H));
    std::vector<double> values(std::size_t(rowsPerBatch) * std::size_t(W));
    for (int z = 0; z < D; ++z) {
        for (int y0 = 0; y0 < H; y0 += rowsPerBatch) {
            if (proceed && !proceed(z, D))
                return false;
            const int rows = std::min(rowsPerBatch, H - y0);
            for (int r = 0; r < rows; ++r) {
                double* row = values.data() + std::size_t(r) * std::size_t(W);
                const int y = y0 + r;
                for (int x = 0; x < W; ++x)
                    row[x] = content == NEWDATA_RANDOM ? drawRand15() / 32767.0 * 256.0
                                                       : double(std::max({ x, y, z }));
            }
            vexaMemOp(values.data(), TYPEDATA_F64, W, rows, 0, 0, W, rows, b.plane(z), b.typeData,
                W, H, 0, y0, VEXAMEM_OP_PASTE);
        }
    }
    return !proceed || proceed(D, D);
}

DataRecord* reportFailure(const std::string& reason)
{
    hostMessageBox(kErrorCaption, reason.empty() ? "Impossible de créer la donnée" : reason);
    return nullptr;
}

} // namespace

int newDataFormatType(int position)
{
    if (position < 0 || position >= int(std::size(kFormatTypes)))
        return -1;
    return kFormatTypes[position];
}

NewDataSettings newDataRemembered()
{
    std::lock_guard lock(gNewDataMutex);
    return gRemembered;
}

void newDataRemember(const NewDataSettings& settings)
{
    std::lock_guard lock(gNewDataMutex);
    gRemembered = settings;
}

std::unique_ptr<ImageObject> newImage2dObject(int width, int height, int type, std::string* reason)
{
    if (!blockSizesValid(width, height, 1, type, reason))
        return nullptr;
    auto object = std::make_unique<ImageObject>();
    ImageDescriptor& image = *object->image;
    image.width = width;
    image.height = height;
    image.typeData = type;
    if (!image.samples.allocate(
            std::size_t(width) * std::size_t(height) * std::size_t(vexaTypeSize(type)))) {
        setReason(reason,
            "Mémoire insuffisante pour une image de " + std::to_string(width) + " x "
                + std::to_string(height));
        return nullptr;
    }
    return object;
}

std::unique_ptr<ImageObject> newImage3dObject(int width, int height, int depth, int type,
    int content, std::string* reason, const NewDataProceed& proceed)
{
    if (content < NEWDATA_EMPTY || content > NEWDATA_MAXIMUM) {
        setReason(reason, "Contenu inconnu");
        return nullptr;
    }
    if (!blockSizesValid(width, height, depth, type, reason))
        return nullptr;
    auto block = std::make_unique<BlockDescriptor>();
    block->dimX = width;
    block->dimY = height;
    block->dimZ = depth;
    block->typeData = type;
    block->storage = STORAGE_MEMORY;
    if (!blockPrepareStorage(*block, reason))
        return nullptr;
    if (content != NEWDATA_EMPTY && !fillBlock(*block, content, proceed)) {
        setReason(reason, "Création interrompue");
        return nullptr;
    }
    auto object = std::make_unique<ImageObject>();
    object->image->typeData = type;
    object->block = std::move(block);
    return object;
}

void newGraphDemoCurve(std::vector<double>& x, std::vector<double>& y)
{
    constexpr int kPoints = 1000;
    x.resize(kPoints);
    y.resize(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        x[std::size_t(i)] = i * 6.28318530718 / 999;
        y[std::size_t(i)] = std::cos(5 * x[std::size_t(i)]);
    }
}

DataRecord* newImage2dCommand()
{
    NewDataSettings s = newDataRemembered();
    if (dozBoxParameter(kImage2dDescription, &s.width2d, &s.height2d, &s.format2d) != 1)
        return nullptr;
    newDataRemember(s);
    std::string reason;
    const int type = newDataFormatType(s.format2d);
    auto object = newImage2dObject(s.width2d, s.height2d, type, &reason);
    if (!object)
        return reportFailure(reason);
    DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    return record ? record : reportFailure({});
}

DataRecord* newImage3dCommand(const NewDataProceed& proceed)
{
    NewDataSettings s = newDataRemembered();
    if (dozBoxParameter(
            kImage3dDescription, &s.width3d, &s.height3d, &s.depth3d, &s.format3d, &s.content3d)
        != 1)
        return nullptr;
    newDataRemember(s);
    std::string reason;
    const int type = newDataFormatType(s.format3d);
    bool abandoned = false;
    auto object = newImage3dObject(
        s.width3d, s.height3d, s.depth3d, type, s.content3d, &reason, [&](int done, int total) {
            abandoned = proceed && !proceed(done, total);
            return !abandoned;
        });
    if (abandoned)
        return nullptr;
    if (!object)
        return reportFailure(reason);
    DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
    return record ? record : reportFailure({});
}

DataRecord* newAudioCommand()
{
    DataRecord* record
        = dataCreateKind(DATA_AUDIO, std::make_unique<NewAudioDatum>(), kFreshId, kFreshId);
    return record ? record : reportFailure({});
}

namespace {
std::atomic<View3dObjectMaker> gView3dMaker { nullptr };
}

void setView3dObjectMaker(View3dObjectMaker maker)
{
    gView3dMaker.store(maker);
}

DataRecord* newView3dCommand()
{
    const View3dObjectMaker maker = gView3dMaker.load();
    std::unique_ptr<KindObject> object
        = maker ? maker() : std::unique_ptr<KindObject>(std::make_unique<NewView3dDatum>());
    DataRecord* record = dataCreateKind(DATA_VIEW3D, std::move(object), kFreshId, kFreshId);
    return record ? record : reportFailure({});
}

DataRecord* newGraphCommand()
{
    auto datum = std::make_unique<GraphDatum>(200, 200);
    // The frame fills the window but for a margin of a twentieth on each side.
    Graph graph("graph", 0.05 * datum->width, 0.05 * datum->height, 0.95 * datum->width,
        0.95 * datum->height);
    std::vector<double> x, y;
    newGraphDemoCurve(x, y);
    graph.setData(1, x.data(), y.data(), int(x.size()));
    graph.setDataVisibility(1, 1);
    graph.series[0].markersVisible = false;
    graph.setDataWidth(1, 1);
    graph.setDataColor(1, Rgb { 0, 0, 0.8 });
    datum->graphs.add(std::move(graph));
    DataRecord* record = dataCreateKind(DATA_GRAPH, std::move(datum), kFreshId, kFreshId);
    return record ? record : reportFailure({});
}

} // namespace vexa
