#include "main/gui/kindwindows.h"

#include "data/datarecord.h"
#include "study/gui/studywindow.h"
#include "video/gui/filmwindow.h"
#include "views/gui/audiowindow.h"
#include "views/gui/graphwindow.h"

namespace vexa::gui {

QWidget* makeKindWindow(DataRecord& record)
{
    switch (record.kind) {
    case DATA_AVI:
        return makeFilmWindow(record);
    case DATA_STUDY:
        return makeStudyWindow(record);
    case DATA_GRAPH:
        return makeGraphWindow(record);
    case DATA_AUDIO:
        return makeAudioWindow(record);
    default:
        return nullptr;
    }
}

} // namespace vexa::gui
