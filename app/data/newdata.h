// "Nouvelle donnée ...": data made from nothing (2D and 3D images, an audio datum,
// a 3D view, a demonstration graph). Each command creates its record on the
// interface thread and has the host open its window.
#pragma once

#include "data/datarecord.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexa {

// Format list of both dialogs, position -> sample type: the type list order
// followed by RGBA. -1 for a position outside the list.
int newDataFormatType(int position);

// Answers of the two dialogs, remembered for the run.
struct NewDataSettings {
    std::int32_t width2d = 256, height2d = 256, format2d = 0;
    std::int32_t width3d = 256, height3d = 256, depth3d = 256, format3d = 0;
    std::int32_t content3d = 0; // 0 "Vide", 1 "Aléatoire", 2 "Autre"
};
NewDataSettings newDataRemembered();
void newDataRemember(const NewDataSettings& settings);

enum NewDataContent : int { NEWDATA_EMPTY = 0, NEWDATA_RANDOM = 1, NEWDATA_MAXIMUM = 2 };

// The object of a new 2D image of zero samples. Null with a reason for sizes or a
// type that are refused, or when memory runs out.
std::unique_ptr<ImageObject> newImage2dObject(
    int width, int height, int type, std::string* reason = nullptr);
// Asked between two batches of generated samples (about a million each) with the
// planes done and the number of planes; false abandons the datum.
using NewDataProceed = std::function<bool(int done, int total)>;

// The object of a new block in memory: zeros ("Vide"), r / 32767 x 256 with r a draw
// of rand() in 0 to 32767 ("Aléatoire"), or max(x, y, z) ("Autre"), converted to the
// block's type (clamped, truncated). Null when proceed abandons it, the samples freed.
std::unique_ptr<ImageObject> newImage3dObject(int width, int height, int depth, int type,
    int content, std::string* reason = nullptr, const NewDataProceed& proceed = {});

// The object of an audio datum: mono 16-bit samples at 44100 Hz, none yet.
struct NewAudioDatum : KindObject {
    int sampleRate = 44100;
    int channels = 1;
    int bitsPerSample = 16;
    std::vector<std::int16_t> samples;
    void reportSizes(int& width, int& height, int& depth) const override
    {
        width = int(samples.size());
        height = channels;
        depth = 0;
    }
};

// The object of a 3D view: its reference box, whose sizes the view reports.
struct NewView3dDatum : KindObject {
    double boxWidth = 100, boxHeight = 100, boxDepth = 100;
    void reportSizes(int& width, int& height, int& depth) const override
    {
        width = int(boxWidth);
        height = int(boxHeight);
        depth = int(boxDepth);
    }
};

// Makes the kind object of the View 3D records that "Nouvelle donnée" creates. The
// subsystem that owns 3D scenes installs its constructor at start-up; without one
// (null) the record gets a NewView3dDatum.
using View3dObjectMaker = std::unique_ptr<KindObject> (*)();
void setView3dObjectMaker(View3dObjectMaker maker);

// The demonstration curve: 1000 points, x_i = i x 6.28318530718 / 999,
// y_i = cos(5 x_i).
void newGraphDemoCurve(std::vector<double>& x, std::vector<double>& y);

// The commands. Each returns the new record, null when its dialog was cancelled or
// the record could not be made (the reason is then shown in the "Erreur" box).
DataRecord* newImage2dCommand();
// The volume is made before its record: abandoned through proceed (without a box),
// no datum appears.
DataRecord* newImage3dCommand(const NewDataProceed& proceed = {});
DataRecord* newAudioCommand();
DataRecord* newView3dCommand();
DataRecord* newGraphCommand();

} // namespace vexa
