// The built-in processing commands of the data windows in one table: identifier,
// label, the work it runs and its place in the menus. The menus, the dispatch and
// isProcessingCommand all read this table, so each identifier and label is written
// in one place only.
#pragma once

#include <vector>

namespace vexa::processing {

// A command being carried out on its task (defined with the commands).
class Command;
using CommandRunner = void (*)(const Command&);

// The processing menus of the data windows, in the order they are appended.
enum class ProcessingMenu {
    None, // accepted as a command, offered by no menu
    Unary2d,
    Binary2d,
    Transformations2d,
    Unary3d,
    Binary3d,
    Nary3d,
    Transformations3d,
    Volume3d, // directly in "Traitement 3D", after its sub-menus
};

struct ProcessingCommand {
    int id = 0;
    const char* label = "";
    // Null for an entry the window carries out itself: it is shown in the menus but
    // is not a processing command.
    CommandRunner runner = nullptr;
    // What the runner applies: an operator code (valueoperators.h), an ImageMove or a
    // VolumeMirror; 0 when the runner does one thing only.
    int code = 0;
    ProcessingMenu menu = ProcessingMenu::None;
    bool separatorBefore = false;
    // Label of the sub-menu of its menu the entry sits in; null for none. Entries of
    // one sub-menu follow each other.
    const char* subMenu = nullptr;
};

// Every entry; within each menu, in menu order.
const std::vector<ProcessingCommand>& processingCommandTable();

// The entry of an identifier, runnable or not; null when the table has none.
const ProcessingCommand* findProcessingEntry(int commandId);

} // namespace vexa::processing
