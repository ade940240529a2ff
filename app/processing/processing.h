// The built-in processing commands of the data windows: value operators on images
// and volumes, and the transformations of both. Each command runs as a task on the
// data given to it; results open as new data and the inputs stay as they were.
#pragma once

#include "host/host.h"

#include <string>

namespace vexa::processing {

// True for the identifiers runProcessingCommand carries out.
bool isProcessingCommand(int commandId);

// Starts the command as a task (its name: the command's menu label). False, with
// nothing started, when the identifier is not a processing command.
bool runProcessingCommand(int commandId, WindowHandle window);

// "Image 3D" of "Nouvelle donnée ...", started from the menu command commandId: its
// dialog and the making of its samples run as a task (on a worker with "Multitâche"
// on) that shows progress and stops at the task window's request; the volume appears
// only once complete.
void runNewImage3dTask(int commandId);

// The work of a command on the calling thread's task: takes the inputs, asks the
// parameters, makes the outputs. Does nothing for another identifier. Never throws.
void runProcessingWork(int commandId);

// Values the commands remember between uses while the program runs.
struct ProcessingSettings {
    double power2d = 0.0;
    double power3d = 0.0;
    double rotationDegrees = 0.0;
    int reframeLeft = 0, reframeRight = 0, reframeTop = 0, reframeBottom = 0;
    int tilesX = 0, tilesY = 0; // list indices: count - 1
    int borderX = 0, borderY = 0;

    // Volume results: place 0 memory, 1 the named file.
    struct Output {
        int place = 0;
        char path[300] = {};
    };
    Output unary3d, binary3d, nary3d, mirror3d, rotation3d;
    int binaryFormat = 0; // type of volume 1, of volume 2, "Autre"
    int binaryOther = 0; // position in the "Autre" list
    int naryCount = 1;
    int naryFormat = 0; // "Image 3D", "Autre"
    int naryNumber = 0;
    int naryOther = 0;
    int rotationAxis = 0;
    int rotationAngle = 0;
    int decimateX = 2, decimateY = 2, decimateZ = 2;
    // "Extraction": corners (x1, y1, z1, x2, y2, z2) kept for blocks of the sizes they
    // were last asked for; a block of other sizes starts again from the whole block.
    // The 2D rectangle (x1, y1, x2, y2) likewise for images.
    int subBlock[6] = {};
    int subBlockSizes[3] = { -1, -1, -1 };
    int subImage[4] = {};
    int subImageSizes[2] = { -1, -1 };
    // "Blending": the weight of the second image, the sections of the dynamic forms.
    double blendWeight = 0.5;
    int blendSections = 11;
    // Volume rescaling and smoothing ("Lissage", Deriche's coefficient).
    Output rescale3d, smooth3d;
    double smoothAlpha = 1.0;
    // Volume split and merge: counts (list indices), borders, and where the parts go
    // (split) or come from (merge input), file names made from a root.
    int volumeTiles[3] = {};
    int volumeBorders[3] = {};
    Output splitOutput, mergeInput, mergeOutput;
};

ProcessingSettings processingSettings();
void setProcessingSettings(const ProcessingSettings& settings);
// Back to the values of the program's start (tests).
void resetProcessingSettings();

// Sample type of "Autre" list position 0..7 (8 bits unsigned ... 64 bits float), 0 for
// a position outside.
int otherListType(int position);

} // namespace vexa::processing
