#include "scene/motion.h"

#include "data/dataopen.h"
#include "host/host.h"
#include "params/paramapi.h"
#include "quill.h"

#include <cmath>
#include <cstring>
#include <mutex>

namespace vexa::scene {

namespace {

const char* const kMoveItems[11] = { nullptr, "TRANSLATEX", "TRANSLATEY", "TRANSLATEZ", "ROTATEX",
    "ROTATEY", "ROTATEZ", "ZOOM", "TRANSLATEX_LOCAL", "TRANSLATEY_LOCAL", "TRANSLATEZ_LOCAL" };

} // namespace

QuillNode* animAddFrame(QuillNode* parent)
{
    return quillNodeAddNode(parent, "FRAME");
}

QuillNode* animAddCamera(QuillNode* parent)
{
    return quillNodeAddNode(parent, "CAMERA");
}

QuillNode* animAddObject(QuillNode* parent, const std::string& name)
{
    QuillNode* object = quillNodeAddNode(parent, "OBJECT");
    if (object && !name.empty())
        quillNodeAddItem(object, "NAME", name.c_str());
    return object;
}

void animAddDelete(QuillNode* node, const std::string& name)
{
    quillNodeAddItem(node, "DELETE", name.c_str());
}

QuillNode* animAddColour(QuillNode* parent, double r, double g, double b)
{
    QuillNode* colour = quillNodeAddNode(parent, "COLOR");
    quillAddRealItem(colour, "R", r);
    quillAddRealItem(colour, "G", g);
    quillAddRealItem(colour, "B", b);
    return colour;
}

void animAddScale(QuillNode* node, double sx, double sy, double sz)
{
    quillAddRealItem(node, "SCALEX", sx);
    quillAddRealItem(node, "SCALEY", sy);
    quillAddRealItem(node, "SCALEZ", sz);
}

QuillNode* buildMotionDocument(const MotionSettings& settings)
{
    if (settings.images < 1)
        return nullptr;
    QuillNode* doc = quillNew("ANIM");
    const double n = settings.images;
    for (int frame = 0; frame < settings.images && doc; ++frame) {
        QuillNode* camera = animAddCamera(animAddFrame(doc));
        for (int i = 0; i < settings.moves && i < int(settings.move.size()); ++i) {
            const CameraMove& move = settings.move[std::size_t(i)];
            if (move.kind < 1 || move.kind > 10)
                continue;
            double value = move.value / n;
            if (move.kind >= 4 && move.kind <= 6)
                value = move.value * 3.14159265359 / 180 / n; // the box takes degrees
            else if (move.kind == 7)
                value = std::pow(move.value, 1 / n);
            quillAddRealItem(camera, kMoveItems[move.kind], value);
        }
    }
    return doc;
}

bool writeMotionFile(const MotionSettings& settings, std::string& reason)
{
    if (settings.images < 1) {
        reason = "Le nombre d'images doit être positif";
        return false;
    }
    QuillNode* doc = buildMotionDocument(settings);
    const bool written = doc && quillWrite(doc, settings.path.c_str());
    quillDestroy(doc);
    if (!written)
        reason = settings.path + " : écriture impossible";
    return written;
}

bool motionFileCommand()
{
    // The box's values stay from one use to the next while the program runs.
    static std::mutex mutex;
    static MotionSettings remembered;
    static char path[PARAM_PATH_BUFFER] = "motion.xml";
    std::lock_guard lock(mutex);
    int images = remembered.images, moves = remembered.moves;
    int kinds[5];
    double values[5];
    for (int i = 0; i < 5; ++i) {
        kinds[i] = remembered.move[std::size_t(i)].kind;
        values[i] = remembered.move[std::size_t(i)].value;
    }
    ParamBox* box = dozBoxParameterAdd(nullptr,
        "Fichier%h%nNb d'images%dNombre de mouvements%t0,1,2,3,4,5%l%n", path, &images, &moves);
    for (int i = 0; i < 5; ++i)
        box = dozBoxParameterAdd(box,
            "Aucun,Tx,Ty,Tz,Rx,Ry,Rz,Zoom,Tx local,Ty local,Tz local%l%f%n", &kinds[i], &values[i]);
    if (dozBoxParameterDialog(box) != 1)
        return false;
    remembered.path = path;
    remembered.images = images;
    remembered.moves = moves;
    for (int i = 0; i < 5; ++i)
        remembered.move[std::size_t(i)] = { kinds[i], values[i] };
    std::string reason;
    if (!writeMotionFile(remembered, reason)) {
        hostMessageBox(kErrorCaption, reason);
        return false;
    }
    return true;
}

} // namespace vexa::scene
