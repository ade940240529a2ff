// Camera-motion files: animation documents of N frames, each moving the camera by the
// N-th part of up to five moves, written from a parameter box; and the small
// document-building steps other writers of animation documents share.
#pragma once

#include <array>
#include <string>

struct QuillNode;

namespace vexa::scene {

// Kinds of moves, as the box's list index: 0 none, 1..3 Tx Ty Tz, 4..6 Rx Ry Rz
// (degrees), 7 zoom factor, 8..10 Tx Ty Tz along the camera's own axes.
struct CameraMove {
    int kind = 0;
    double value = 0;
};

struct MotionSettings {
    std::string path = "motion.xml";
    int images = 250;
    int moves = 0; // how many of the five moves are used
    std::array<CameraMove, 5> move {};
};

// The document (root "ANIM") of the settings; null when images < 1. Destroy with
// quillDestroy.
QuillNode* buildMotionDocument(const MotionSettings& settings);
// Writes it to settings.path; false with a French reason when refused or unwritable.
bool writeMotionFile(const MotionSettings& settings, std::string& reason);

// Asks the settings in the camera-motion box (values kept for the run) and writes the
// file; a message box tells a failure. False when cancelled or failed.
bool motionFileCommand();

// Shared building steps; each returns the new node (null when parent is null).
QuillNode* animAddFrame(QuillNode* parent);
QuillNode* animAddCamera(QuillNode* parent);
QuillNode* animAddObject(QuillNode* parent, const std::string& name);
void animAddDelete(QuillNode* node, const std::string& name);
QuillNode* animAddColour(QuillNode* parent, double r, double g, double b);
void animAddScale(QuillNode* node, double sx, double sy, double sz);

} // namespace vexa::scene
