#include "plugins/callbacktable.h"

#include "data/dataapi.h"
#include "data/dataopen.h"
#include "data/graphapi.h"
#include "data/object2dapi.h"
#include "data/registry.h"
#include "mesh/meshapi.h"
#include "params/paramapi.h"
#include "plugins/dialogapi.h"
#include "plugins/directoryapi.h"
#include "plugins/messageapi.h"
#include "plugins/pendingapi.h"
#include "plugins/videoapi.h"
#include "plugins/view3dapi.h"
#include "tasks/taskapi.h"

#include "vexa_guard.hpp"

#include <cstring>
#include <string>

using vexa::plugins::CallbackEntry;
using vexa::plugins::CallbackName;

namespace {

constexpr const char* kWithdrawnCaption = "Fonction Classée Top Secret et Déclassée";
constexpr const char* kUnknownCaption = "Fonction Inconnue !";

template <typename F> VexaCallback callback(F* function)
{
    return reinterpret_cast<VexaCallback>(function);
}

void doNothing() { }

VexaCallback noOpFunction()
{
    return callback(doNothing);
}

template <CallbackName Name> VexaCallback pending()
{
    return callback(&vexa::plugins::notAvailable<Name>);
}

// The older forms of dozDataSetClass each take one sort of identifier; the other
// sort does nothing, as everywhere in the data callbacks.
int imageSetClass(unsigned int imageId, int valueClass)
{
    return vexa::dataFindImage(imageId) ? dozDataSetClass(imageId, valueClass) : 0;
}

int blockSetClass(unsigned int blockId, int valueClass)
{
    return vexa::dataFindBlock(blockId) ? dozDataSetClass(blockId, valueClass) : 0;
}

// Older plug-ins ask for their histogram window under this name: it is a new image
// output, as vexaImageNew makes.
unsigned int popupHistogram(void)
{
    return vexaImageNew();
}

// Built on first use rather than at load time: a lookup may come before this file's
// static initialisation has run.
std::span<const CallbackEntry> table()
{
    // Family by family. The names bound to the no-op, the histogram and the two
    // user-data names (whose meanings are swapped: plug-ins rely on it) close their
    // families.
    static const CallbackEntry kTable[] = {
        // Data records, sizes, names, user data, events, clicks
        { "vexaImageNew", callback(vexaImageNew) },
        { "vexaBlockNew", callback(vexaBlockNew) },
        { "vexaGraphNew", callback(vexaGraphNew) },
        { "vexaImageSetTypeData", callback(vexaImageSetTypeData) },
        { "vexaImageSetSize", callback(vexaImageSetSize) },
        { "vexaBlockSetTypeData", callback(vexaBlockSetTypeData) },
        { "vexaBlockSetSize", callback(vexaBlockSetSize) },
        { "vexaGraphSetSize", callback(vexaGraphSetSize) },
        { "vexaImageShow", callback(vexaImageShow) },
        { "vexaBlockShow", callback(vexaBlockShow) },
        { "vexaGraphShow", callback(vexaGraphShow) },
        { "vexaImageGetSize", callback(vexaImageGetSize) },
        { "vexaImageGetClickNumber", callback(vexaImageGetClickNumber) },
        { "vexaImageGetClickArray", callback(vexaImageGetClickArray) },
        { "vexaImageGetCaptureNumber", callback(vexaImageGetCaptureNumber) },
        { "vexaImageGetCaptureArray", callback(vexaImageGetCaptureArray) },
        { "vexaImageGetPtrData", callback(vexaImageGetPtrData) },
        { "vexaImageGetTypeData", callback(vexaImageGetTypeData) },
        { "vexaImageSetClass", callback(imageSetClass) },
        { "vexaBlockGetSize", callback(vexaBlockGetSize) },
        { "vexaBlockGetClickNumber", callback(vexaBlockGetClickNumber) },
        { "vexaBlockGetClickArray", callback(vexaBlockGetClickArray) },
        { "vexaBlockGetCaptureNumber", callback(vexaBlockGetCaptureNumber) },
        { "vexaBlockGetCaptureArray", callback(vexaBlockGetCaptureArray) },
        { "vexaBlockGetPtrData", callback(vexaBlockGetPtrData) },
        { "vexaBlockGetTypeData", callback(vexaBlockGetTypeData) },
        { "vexaBlockSetClass", callback(blockSetClass) },
        { "vexaLoadFromFile", callback(dozDataLoadFromFile) },
        { "dozDataLoadFromFile", callback(dozDataLoadFromFile) },
        { "vexaWindowRedraw", callback(dozDataRedraw) },
        { "dozDataRedraw", callback(dozDataRedraw) },
        { "vexaWindowClose", callback(vexaWindowClose) },
        { "vexaWindowGetName", callback(dozDataGetName) },
        { "dozDataGetName", callback(dozDataGetName) },
        { "vexaWindowSetName", callback(dozDataSetName) },
        { "dozDataSetName", callback(dozDataSetName) },
        { "vexaWindowUserDataNew", callback(dozDataNewUserData) },
        { "dozDataNewUserData", callback(dozDataNewUserData) },
        { "vexaWindowUserDataDelete", callback(dozDataDeleteUserData) },
        { "dozDataDeleteUserData", callback(dozDataDeleteUserData) },
        { "vexaWindowUserDataSet", callback(dozDataSetUserData) },
        { "dozDataSetUserData", callback(dozDataSetUserData) },
        { "vexaWindowUserDataGet", callback(dozDataGetUserData) },
        { "dozDataGetUserData", callback(dozDataGetUserData) },
        { "vexaWindowCallbackAdd", callback(dozDataCallbackAdd) },
        { "dozDataCallbackAdd", callback(dozDataCallbackAdd) },
        { "vexaWindowCallbackSub", callback(dozDataCallbackSub) },
        { "dozDataCallbackSub", callback(dozDataCallbackSub) },
        { "vexaWindowCallbackGetEvent", callback(dozDataCallbackGetEvent) },
        { "vexaWindowCallbackEventGet", callback(dozDataCallbackGetEvent) },
        { "dozDataCallbackGetEvent", callback(dozDataCallbackGetEvent) },
        { "dozDataCallbackEventGet", callback(dozDataCallbackGetEvent) },
        { "vexaWindowCallbackSetEvent", callback(dozDataCallbackSetEvent) },
        { "vexaWindowCallbackEventSet", callback(dozDataCallbackSetEvent) },
        { "dozDataCallbackSetEvent", callback(dozDataCallbackSetEvent) },
        { "dozDataCallbackEventSet", callback(dozDataCallbackSetEvent) },
        { "dozDataGetPtr", callback(dozDataGetPtr) },
        { "dozDataGetCaptureNumber", callback(dozDataGetCaptureNumber) },
        { "dozDataGetCaptureX", callback(dozDataGetCaptureX) },
        { "dozDataGetCaptureY", callback(dozDataGetCaptureY) },
        { "dozDataGetCaptureZ", callback(dozDataGetCaptureZ) },
        { "dozDataDelete", callback(dozDataDelete) },
        { "dozDataGetWidth", callback(dozDataGetWidth) },
        { "dozDataGetLargeur", callback(dozDataGetWidth) },
        { "dozDataGetHeight", callback(dozDataGetHeight) },
        { "dozDataGetHauteur", callback(dozDataGetHeight) },
        { "dozDataGetDepth", callback(dozDataGetDepth) },
        { "dozDataGetProfondeur", callback(dozDataGetDepth) },
        { "dozDataSetNombre", callback(dozDataSetNumber) },
        { "dozDataSetNumber", callback(dozDataSetNumber) },
        { "dozDataSetImageNombreTypeTaille", callback(dozDataSetImageNumberTypeSize) },
        { "dozDataSetImageNumberTypeSize", callback(dozDataSetImageNumberTypeSize) },
        { "dozDataSetImageTaille", callback(dozDataSetImageSize) },
        { "dozDataSetImageSize", callback(dozDataSetImageSize) },
        { "dozDataSetImageTailleAll", callback(dozDataSetImageSizeAll) },
        { "dozDataSetImageSizeAll", callback(dozDataSetImageSizeAll) },
        { "dozDataSetType", callback(dozDataSetType) },
        { "dozDataSetTypeAll", callback(dozDataSetTypeAll) },
        { "dozDataSetGraphSize", callback(dozDataSetGraphSize) },
        { "dozDataSetGraphSizeAll", callback(dozDataSetGraphSizeAll) },
        { "dozDataGetClickNumber", callback(dozDataGetClickNumber) },
        { "dozDataGetClickX", callback(dozDataGetClickX) },
        { "dozDataGetClickY", callback(dozDataGetClickY) },
        { "dozDataGetClickZ", callback(dozDataGetClickZ) },
        { "dozDataGetCursorX", callback(dozDataGetCursorX) },
        { "dozDataGetCursorY", callback(dozDataGetCursorY) },
        { "dozDataGetCursorZ", callback(dozDataGetCursorZ) },
        { "dozDataGetTypeData", callback(dozDataGetTypeData) },
        { "dozDataSetClass", callback(dozDataSetClass) },
        { "dozDataAllocUserData", callback(dozDataFree) },
        { "dozDataFreeUserData", callback(dozDataFreeUserData) },
        // Volume storage
        { "vexaBlockSetFile", callback(vexaBlockSetFile) },
        { "vexaBlockSetMemory", callback(vexaBlockSetMemory) },
        { "vexaBlockSetUpdateFile", callback(dozDataSetOp) },
        { "dozDataSetOp", callback(dozDataSetOp) },
        { "vexaBlockGetCursor", callback(vexaBlockGetCursor) },
        { "vexaBlockCopyToFile", callback(vexaBlockCopyToFile) },
        { "dozDataSetBlocNombreTypeTaille", callback(dozDataSetBlockNumberTypeSize) },
        { "dozDataSetBlockNombreTypeTaille", callback(dozDataSetBlockNumberTypeSize) },
        { "dozDataSetBlockNumberTypeSize", callback(dozDataSetBlockNumberTypeSize) },
        { "dozDataSetBlocEmplacementFichier", callback(dozDataSetBlockFile) },
        { "dozDataSetBlockEmplacementFichier", callback(dozDataSetBlockFile) },
        { "dozDataSetBlockFile", callback(dozDataSetBlockFile) },
        { "dozDataSetBlocEmplacementMemoire", callback(dozDataSetBlockMemory) },
        { "dozDataSetBlockEmplacementMemoire", callback(dozDataSetBlockMemory) },
        { "dozDataSetBlockMemory", callback(dozDataSetBlockMemory) },
        { "dozDataSetBlocEmplacementMemoireAll", callback(dozDataSetBlockMemoryAll) },
        { "dozDataSetBlockEmplacementMemoireAll", callback(dozDataSetBlockMemoryAll) },
        { "dozDataSetBlockMemoryAll", callback(dozDataSetBlockMemoryAll) },
        { "dozDataSetBlocTaille", callback(dozDataSetBlockSize) },
        { "dozDataSetBlockTaille", callback(dozDataSetBlockSize) },
        { "dozDataSetBlockSize", callback(dozDataSetBlockSize) },
        { "dozDataSetBlocTailleAll", callback(dozDataSetBlockSizeAll) },
        { "dozDataSetBlockTailleAll", callback(dozDataSetBlockSizeAll) },
        { "dozDataSetBlockSizeAll", callback(dozDataSetBlockSizeAll) },
        // Slices and sections
        { "vexaImageGetData", callback(dozDataGetData) },
        { "dozDataGetData", callback(dozDataGetData) },
        { "vexaBlockGetFront", callback(dozDataGetFront) },
        { "dozDataGetInline", callback(dozDataGetFront) },
        { "dozDataGetFront", callback(dozDataGetFront) },
        { "vexaBlockGetPartialFront", callback(dozDataGetPartialFront) },
        { "dozDataGetPartialInline", callback(dozDataGetPartialFront) },
        { "dozDataGetPartialFront", callback(dozDataGetPartialFront) },
        { "vexaBlockGetRight", callback(dozDataGetRight) },
        { "dozDataGetRight", callback(dozDataGetRight) },
        { "vexaBlockGetPartialRight", callback(dozDataGetPartialRight) },
        { "dozDataGetPartialRight", callback(dozDataGetPartialRight) },
        { "vexaBlockGetTop", callback(dozDataGetTop) },
        { "dozDataGetTop", callback(dozDataGetTop) },
        { "vexaBlockGetPartialTop", callback(dozDataGetPartialTop) },
        { "dozDataGetPartialTop", callback(dozDataGetPartialTop) },
        { "vexaBlockGetImageFromTopPatch", callback(dozDataGetImageFromTopPatch) },
        { "dozDataGetImageFromTopPatch", callback(dozDataGetImageFromTopPatch) },
        { "vexaBlockGetImageSONE", callback(dozDataGetImageSONE) },
        { "dozDataGetImageSONE", callback(dozDataGetImageSONE) },
        { "vexaBlockGetImageNOSE", callback(dozDataGetImageNOSE) },
        { "dozDataGetImageNOSE", callback(dozDataGetImageNOSE) },
        { "vexaBlockSetPartialFront", callback(dozDataSetPartialFront) },
        { "dozDataSetPartialFront", callback(dozDataSetPartialFront) },
        { "vexaBlockSetFront", callback(dozDataSetFront) },
        { "dozDataSetInline", callback(dozDataSetFront) },
        { "dozDataSetFront", callback(dozDataSetFront) },
        { "vexaBlockSetFrontByType", callback(dozDataSetFrontByType) },
        { "dozDataSetInlineByType", callback(dozDataSetFrontByType) },
        { "dozDataSetFrontByType", callback(dozDataSetFrontByType) },
        { "vexaBlockSetPartialFrontByType", callback(dozDataSetPartialFrontByType) },
        { "dozDataSetPartialInlineByType", callback(dozDataSetPartialFrontByType) },
        { "dozDataSetPartialFrontByType", callback(dozDataSetPartialFrontByType) },
        { "vexaBlockSetPartialRight", callback(dozDataSetPartialRight) },
        { "dozDataSetPartialRight", callback(dozDataSetPartialRight) },
        { "vexaBlockSetRight", callback(dozDataSetRight) },
        { "dozDataSetRight", callback(dozDataSetRight) },
        { "vexaBlockSetRightByType", callback(dozDataSetRightByType) },
        { "dozDataSetRightByType", callback(dozDataSetRightByType) },
        { "vexaBlockSetPartialRightByType", callback(dozDataSetPartialRightByType) },
        { "dozDataSetPartialRightByType", callback(dozDataSetPartialRightByType) },
        { "vexaBlockSetPartialTop", callback(dozDataSetPartialTop) },
        { "dozDataSetPartialTop", callback(dozDataSetPartialTop) },
        { "vexaBlockSetTop", callback(dozDataSetTop) },
        { "dozDataSetTop", callback(dozDataSetTop) },
        { "vexaBlockSetTopByType", callback(dozDataSetTopByType) },
        { "dozDataSetTopByType", callback(dozDataSetTopByType) },
        { "vexaBlockSetPartialTopByType", callback(dozDataSetPartialTopByType) },
        { "dozDataSetPartialTopByType", callback(dozDataSetPartialTopByType) },
        { "vexaBlockSetImageSONE", callback(dozDataSetImageSONE) },
        { "dozDataSetImageSONE", callback(dozDataSetImageSONE) },
        { "vexaBlockSetImageSONEByType", callback(dozDataSetImageSONEByType) },
        { "dozDataSetImageSONEByType", callback(dozDataSetImageSONEByType) },
        { "vexaBlockSetImageNOSE", callback(dozDataSetImageNOSE) },
        { "dozDataSetImageNOSE", callback(dozDataSetImageNOSE) },
        { "vexaBlockSetImageNOSEByType", callback(dozDataSetImageNOSEByType) },
        { "dozDataSetImageNOSEByType", callback(dozDataSetImageNOSEByType) },
        { "vexaFree", callback(dozDataFree) },
        { "dozDataFree", callback(dozDataFree) },
        { "vexaPopupImage", callback(dozDataPopup) },
        { "dozDataPopup", callback(dozDataPopup) },
        { "vexaPopupHistogram", callback(popupHistogram) },
        // Task inputs and progress
        { "vexaImageGetIn", callback(vexaImageGetIn) },
        { "vexaBlockGetIn", callback(vexaBlockGetIn) },
        { "vexaStudyGetIn", callback(vexaStudyGetIn) },
        { "vexaView3dGetIn", callback(vexaView3dGetIn) },
        { "vexaProgressSetMinMax", callback(vexaProgressSetMinMax) },
        { "vexaProgressSetPosition", callback(vexaProgressSetPosition) },
        { "vexaProgressReset", callback(vexaProgressReset) },
        { "dozDataGetIdByCount", callback(dozDataGetIdByCount) },
        { "dozTacheSetIntervalProgression", callback(dozTaskSetIntervalProgress) },
        { "dozTaskSetIntervalProgress", callback(dozTaskSetIntervalProgress) },
        { "dozTacheSetProgression", callback(dozTaskSetProgress) },
        { "dozTaskSetProgress", callback(dozTaskSetProgress) },
        { "dozTaskResetTimer", callback(dozTaskResetTimer) },
        { "dozTaskShouldStop", callback(dozTaskShouldStop) },
        // Menus and libraries
        { "dozMenuCreateFromDESC", callback(dozMenuCreateFromDESC) },
        { "dozMenuComputeNumberIdFromDESC", callback(dozMenuComputeNumberIdFromDESC) },
        { "dozTaskGetMenuId", callback(dozTaskGetMenuId) },
        { "vexaMenuCreate", callback(dozMenuCreate) },
        { "dozMenuCreate", callback(dozMenuCreate) },
        { "vexaMenuAddItem", callback(vexaMenuAddItem) },
        { "vexaMenuAddSeparator", callback(dozMenuAddSeparator) },
        { "dozMenuAddSeparator", callback(dozMenuAddSeparator) },
        { "vexaMenuAddSubMenu", callback(dozMenuAddSubMenu) },
        { "dozMenuAddSubMenu", callback(dozMenuAddSubMenu) },
        { "vexaLibraryAddMenu", callback(vexaLibraryAddMenu) },
        { "vexaLibraryAddMenuPopup", callback(vexaLibraryAddMenuPopup) },
        { "vexaLibraryFakeLoad", callback(vexaLibraryFakeLoad) },
        { "dozLibraryAddMenu", callback(dozLibraryAddMenu) },
        { "dozMenuAddItem", callback(dozMenuAddItem) },
        { "dozExec", noOpFunction() },
        { "dozLibraryAddFunction", noOpFunction() },
        // Parameter boxes
        { "vexaBoxParameter", callback(dozBoxParameterPlugin) },
        { "dozBoiteParametre", callback(dozBoxParameterPlugin) },
        { "dozBoxParameter", callback(dozBoxParameterPlugin) },
        { "vexaBoxParameterAdd", callback(dozBoxParameterAdd) },
        { "dozBoxParameterAdd", callback(dozBoxParameterAdd) },
        { "vexaBoxParameterDialog", callback(dozBoxParameterDialogPlugin) },
        { "dozBoxParameterDialog", callback(dozBoxParameterDialogPlugin) },
        // File selector
        { "dozFileInit", callback(dozFileInit) },
        { "dozFileSelectorOpen", callback(dozFileSelectorOpen) },
        { "dozFileGetName", callback(dozFileGetName) },
        { "dozFileSetName", callback(dozFileSetName) },
        { "dozFileDestroy", callback(dozFileDestroy) },
        // Messages
        { "vexaMsg", callback(dozMsg) },
        { "dozPlusMsg", callback(dozMsg) },
        { "dozMsg", callback(dozMsg) },
        { "vexaMsgFormat", callback(dozMsgFormat) },
        { "dozPlusMsgFormat", callback(dozMsgFormat) },
        { "dozMsgFormat", callback(dozMsgFormat) },
        { "dozMsgBox", callback(dozMsgBox) },
        { "dozPlusMsgBox", callback(dozMsgBox) },
        { "dozMsgBoxYNC", callback(dozMsgBoxYNC) },
        { "dozPlusMsgBoxYNC", callback(dozMsgBoxYNC) },
        // Meshes
        { "vexaMesh3dCube", callback(vexaMesh3dCube) },
        { "dozMesh3dCube", callback(vexaMesh3dCube) },
        { "vexaMesh3dSphere", callback(vexaMesh3dSphere) },
        { "dozMesh3dSphere", callback(vexaMesh3dSphere) },
        { "vexaMesh3dCone", callback(vexaMesh3dCone) },
        { "vexaMesh3dCylinder", callback(vexaMesh3dCylinder) },
        { "vexaMesh3dArrow", callback(vexaMesh3dArrow) },
        { "dozMesh3dArrow", callback(vexaMesh3dArrow) },
        { "vexaMesh3dLine", callback(vexaMesh3dLine) },
        { "vexaMesh3dReadFromFile", callback(vexaMesh3dReadFromFile) },
        { "dozMesh3dReadFromFile", callback(vexaMesh3dReadFromFile) },
        { "vexaMesh3dAlloc", callback(vexaMesh3dAlloc) },
        { "vexaMesh3dFree", callback(vexaMesh3dFree) },
        { "dozMesh3dFree", callback(vexaMesh3dFree) },
        { "vexaMesh3dScale", callback(vexaMesh3dScale) },
        { "dozMesh3dScale", callback(vexaMesh3dScale) },
        { "vexaMesh3dTranslate", callback(vexaMesh3dTranslate) },
        { "dozMesh3dTranslate", callback(vexaMesh3dTranslate) },
        { "vexaMesh3dRotate", callback(vexaMesh3dRotate) },
        { "dozMesh3dRotate", callback(vexaMesh3dRotate) },
        { "vexaMesh3dTransform", callback(vexaMesh3dTransform) },
        { "vexaMesh3dAddColorVertices", callback(vexaMesh3dAddColorVertices) },
        // 3D view and 3D objects
        { "vexaView3dNew", callback(vexaView3dNew) },
        { "vexaView3dShow", callback(vexaView3dShow) },
        { "vexaView3dGetSize", callback(vexaView3dGetSize) },
        { "vexaView3dSetSize", callback(vexaView3dSetSize) },
        { "vexaView3dAddObject3d", callback(vexaView3dAddObject3d) },
        { "dozDataView3DAddObject3d", callback(vexaView3dAddObject3d) },
        { "vexaView3dDeleteObject3d", callback(vexaView3dDeleteObject3d) },
        { "dozDataView3DDeleteObject3d", callback(vexaView3dDeleteObject3d) },
        { "vexaView3dDeleteObject3dByName", callback(vexaView3dDeleteObject3dByName) },
        { "dozDataView3DDeleteObject3dByName", callback(vexaView3dDeleteObject3dByName) },
        { "vexaView3dSnapshot", callback(vexaView3dSnapshot) },
        { "vexaView3dSetCamera", callback(vexaView3dSetCamera) },
        { "vexaObject3dCreate", callback(vexaObject3dCreate) },
        { "dozObject3dCreate", callback(vexaObject3dCreate) },
        { "vexaObject3dSetName", callback(vexaObject3dSetName) },
        { "dozObject3dSetName", callback(vexaObject3dSetName) },
        { "vexaObject3dSetColor", callback(vexaObject3dSetColor) },
        { "dozObject3dSetColor", callback(vexaObject3dSetColor) },
        { "vexaObject3dSetTransparency", callback(vexaObject3dSetTransparency) },
        { "vexaObject3dSetMesh3d", callback(vexaObject3dSetMesh3d) },
        { "dozObject3dSetMesh3d", callback(vexaObject3dSetMesh3d) },
        { "vexaObject3dSetCurve3d", callback(vexaObject3dSetCurve3d) },
        { "dozObject3dSetCurve3d", callback(vexaObject3dSetCurve3d) },
        { "vexaObject3dSetVolumeData", callback(vexaObject3dSetVolumeData) },
        { "dozObject3dSetVolumeData", callback(vexaObject3dSetVolumeData) },
        { "vexaObject3dSetVolumeLocation", callback(vexaObject3dSetVolumeLocation) },
        { "dozObject3dSetVolumeLocation", callback(vexaObject3dSetVolumeLocation) },
        { "vexaObject3dSetVolume", callback(vexaObject3dSetVolume) },
        { "dozObject3dSetVolume", callback(vexaObject3dSetVolume) },
        { "vexaObject3dSetTexture", callback(vexaObject3dSetTexture) },
        { "dozObject3dSetTexture", callback(vexaObject3dSetTexture) },
        { "vexaObject3dSetWrapping", callback(vexaObject3dSetWrapping) },
        { "dozObject3dSetWrapping", callback(vexaObject3dSetWrapping) },
        { "dozDataAddSurface3d", callback(dozDataAddSurface3d) },
        { "dozDataGetView3D", callback(dozDataGetView3D) },
        { "vexaView3dGetDisplay", noOpFunction() },
        { "vexaView3dSetDisplay", noOpFunction() },
        // 2D overlays and positions
        { "dozDataGetPositionFromScreen", callback(dozDataGetPositionFromScreen) },
        { "dozDataGetPositionFromScreen2", callback(dozDataGetPositionFromScreen2) },
        { "vexaImageAddObject2d", callback(vexaImageAddObject2d) },
        { "vexaImageDeleteObject2d", callback(vexaImageDeleteObject2d) },
        { "vexaImageDeleteObject2dByName", callback(vexaImageDeleteObject2dByName) },
        { "vexaImageAddLine", callback(vexaImageAddLine) },
        { "vexaImageAddSquare", callback(vexaImageAddSquare) },
        { "vexaObject2dCreate", callback(vexaObject2dCreate) },
        { "vexaObject2dSetName", callback(vexaObject2dSetName) },
        { "vexaObject2dSetColor", callback(vexaObject2dSetColor) },
        { "vexaObject2dSetThickness", callback(vexaObject2dSetThickness) },
        { "vexaObject2dSetArrayPoints", callback(vexaObject2dSetArrayPoints) },
        { "vexaObject2dTranslate", callback(vexaObject2dTranslate) },
        { "vexaObject2dScale", callback(vexaObject2dScale) },
        { "dozDataGetFaille", callback(dozDataGetFaille) },
        { "dozDataAddLineRGB", callback(dozDataAddLineRGB) },
        { "dozDataAddSquareRGB", callback(dozDataAddSquareRGB) },
        { "dozDataAddAsteriskRGB", callback(dozDataAddAsteriskRGB) },
        { "dozDataAddArrowRGB", callback(dozDataAddArrowRGB) },
        { "dozDataGetSpace", callback(dozDataGetSpace) },
        // Graphs
        { "dozDataGraphNew", callback(dozDataGraphNew) },
        { "dozDataGraphDelete", callback(dozDataGraphDelete) },
        { "dozDataGraphSetPosition", callback(dozDataGraphSetPosition) },
        { "dozDataGraphSetOrientation", callback(dozDataGraphSetOrientation) },
        { "dozDataGraphSetLinear", callback(dozDataGraphSetLinear) },
        { "dozDataGraphSetPolar", callback(dozDataGraphSetPolar) },
        { "dozDataGraphSetAutoRange", callback(dozDataGraphSetAutoRange) },
        { "dozDataGraphSetXRange", callback(dozDataGraphSetXRange) },
        { "dozDataGraphSetYRange", callback(dozDataGraphSetYRange) },
        { "dozDataGraphSetBackgroundVisibility", callback(dozDataGraphSetBackgroundVisibility) },
        { "dozDataGraphSetBackgroundColor", callback(dozDataGraphSetBackgroundColor) },
        { "dozDataGraphSetBorderVisibility", callback(dozDataGraphSetBorderVisibility) },
        { "dozDataGraphSetBorderWidth", callback(dozDataGraphSetBorderWidth) },
        { "dozDataGraphSetBorderColor", callback(dozDataGraphSetBorderColor) },
        { "dozDataGraphSetXAxisVisibility", callback(dozDataGraphSetXAxisVisibility) },
        { "dozDataGraphSetXAxisColor", callback(dozDataGraphSetXAxisColor) },
        { "dozDataGraphSetXAxisWidth", callback(dozDataGraphSetXAxisWidth) },
        { "dozDataGraphSetXAxisPosition", callback(dozDataGraphSetXAxisPosition) },
        { "dozDataGraphSetYAxisVisibility", callback(dozDataGraphSetYAxisVisibility) },
        { "dozDataGraphSetYAxisColor", callback(dozDataGraphSetYAxisColor) },
        { "dozDataGraphSetYAxisWidth", callback(dozDataGraphSetYAxisWidth) },
        { "dozDataGraphSetYAxisPosition", callback(dozDataGraphSetYAxisPosition) },
        { "dozDataGraphSetXGridVisibility", callback(dozDataGraphSetXGridVisibility) },
        { "dozDataGraphSetXGridColor", callback(dozDataGraphSetXGridColor) },
        { "dozDataGraphSetYGridVisibility", callback(dozDataGraphSetYGridVisibility) },
        { "dozDataGraphSetYGridColor", callback(dozDataGraphSetYGridColor) },
        { "dozDataGraphSetData", callback(dozDataGraphSetData) },
        { "dozDataGraphSetDataVisibility", callback(dozDataGraphSetDataVisibility) },
        { "dozDataGraphSetDataWidth", callback(dozDataGraphSetDataWidth) },
        { "dozDataGraphSetDataColor", callback(dozDataGraphSetDataColor) },
    // Video streams and video files
#include "plugins/videoentries.inc"
        // Windows and dialogs
        { "dozDialogRunFromDESC", callback(dozDialogRunFromDESC) },
        { "dozDialogWithDataRunFromDESC", callback(dozDialogWithDataRunFromDESC) },
        { "dozDialogModalRunFromDESC", callback(dozDialogModalRunFromDESC) },
        { "dozDialogModalWithDataRunFromDESC", callback(dozDialogModalWithDataRunFromDESC) },
        { "dozDataAnimateBegin", callback(dozDataAnimateBegin) },
        { "dozDataAnimateEnd", callback(dozDataAnimateEnd) },
        { "dozDataGetMainHwnd", callback(dozDataGetMainHwnd) },
        { "dozDataGetHwnd", callback(dozDataGetHwnd) },
        { "dozWindowClose", callback(dozWindowClose) },
        { "dozWindowDestroy", callback(dozWindowDestroy) },
        { "dozWindowEnableItem", callback(dozWindowEnableItem) },
        { "dozWindowSetItemText", callback(dozWindowSetItemText) },
        { "dozWindowGetItemText", callback(dozWindowGetItemText) },
        { "dozWindowSetItemInt", callback(dozWindowSetItemInt) },
        { "dozWindowGetItemInt", callback(dozWindowGetItemInt) },
        { "dozWindowSetItemReal", callback(dozWindowSetItemReal) },
        { "dozWindowSetItemReal2", callback(dozWindowSetItemReal2) },
        { "dozWindowModifyItemInt", callback(dozWindowModifyItemInt) },
        { "dozWindowModifyItemIntMinMax", callback(dozWindowModifyItemIntMinMax) },
        { "dozWindowModifyItemReal", callback(dozWindowModifyItemReal) },
        { "dozWindowModifyItemRealMinMax", callback(dozWindowModifyItemRealMinMax) },
        { "dozWindowCheckButton", callback(dozWindowCheckButton) },
        { "dozWindowCheckRadioButton", callback(dozWindowCheckRadioButton) },
        { "dozDialogEnd", callback(dozDialogEnd) },
        // Directories and bitmaps
        { "vexaImageSaveBitmap", callback(dozDataSaveDib) },
        { "dozDataSaveDib", callback(dozDataSaveDib) },
        { "vexaDirectoryScanGetFiles", callback(vexaDirectoryScanGetFiles) },
        { "vexaDirectoryScanGetDirectories", callback(vexaDirectoryScanGetDirectories) },
    };
    return kTable;
}

void showBox(const char* caption, const char* text) noexcept
{
    vexa::guardedVoid([&] { vexa::hostMessageBox(caption, text, vexa::MessageButtons::Ok); });
}

} // namespace

namespace vexa::plugins {

std::span<const CallbackEntry> callbackTable()
{
    return table();
}

VexaCallback noOpCallback()
{
    return noOpFunction();
}

} // namespace vexa::plugins

extern "C" VexaCallback vexaCallbackLookup(const char* name)
{
    if (!name) {
        showBox(kUnknownCaption, "");
        return noOpFunction();
    }
    if (std::strcmp(name, "dozExec") == 0 || std::strcmp(name, "dozLibraryAddFunction") == 0)
        showBox(kWithdrawnCaption, name);
    // A few hundred lookups when a plug-in starts: a linear scan is plenty.
    for (const CallbackEntry& entry : table())
        if (std::strcmp(entry.name, name) == 0)
            return entry.fn;
    showBox(kUnknownCaption, name);
    return noOpFunction();
}
