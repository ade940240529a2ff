// Headless runs: a batch file opens data, runs built-in and plug-in commands by their
// menu labels, answers their parameter boxes from values given by the boxes' labels,
// saves results and plays animation files into films, without showing a window.
//
// One instruction per line; blanks around words are ignored, '#' starts a comment:
//   ouvrir <fichier>              opens a datum, which becomes the active one
//   valeur <libellé> = <valeur>   answer for the next parameter boxes (kept until
//                                 the next "commande"); lists take an entry's text,
//                                 check boxes 0/1/oui/non
//   fichier <chemin>              answer for the next file chooser
//   commande <libellé du menu>    runs the command on the active datum and waits for
//                                 it; a path "Traitement 3D > Opérateurs Unaires >
//                                 Racine Carrée" picks among equal labels
//   sauver <fichier>              saves the active datum, format from the extension
//   animation <fichier.xml>       plays an animation file (its PLAY FILENAME films)
// The first failure stops the run and names its line.
#pragma once

#include "host/host.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vexa::batch {

struct BatchLine {
    int number = 0; // 1-based line in the file
    std::string keyword; // lower case
    std::string argument; // rest of the line, trimmed
};

// Instructions of a batch text; false with a French message naming the line when a
// keyword is unknown or an argument is missing.
bool parseBatch(const std::string& text, std::vector<BatchLine>& lines, std::string& error);

// The host of headless runs: windows are tokens, parameter boxes and choosers are
// answered from the values of the running line, messages go to the report.
class BatchHost final : public Host {
public:
    BatchHost();
    ~BatchHost() override;

    // Answers of the boxes: item label -> text; a label no box carried is an error.
    std::map<std::string, std::string> values;
    std::vector<std::string> usedLabels;
    std::vector<std::string> fileAnswers;
    // Messages shown while running ("caption : text").
    std::vector<std::string> messages;
    // Renders a 3D view offscreen (installed by the program; unset: no rendering).
    std::function<bool(DataRecord&, int, int, std::vector<std::uint8_t>&)> snapshot;

    // Runs what workers posted, on the calling thread. Returns how many ran.
    int pump();
    // The record of the newest window made since the last call, if it still exists.
    DataRecord* takeLastCreated();

    void post(std::function<void()> fn) override;
    WindowHandle createWindow(DataRecord& record, GuiRequest code) override;
    void closeWindow(WindowHandle window) override;
    void setWindowTitle(WindowHandle, const std::string&) override { }
    void redraw(DataRecord&) override { }
    void refreshMenus(int) override { }
    void refreshLog() override { }
    MessageAnswer messageBox(
        const std::string& caption, const std::string& text, MessageButtons buttons) override;
    int paramDialog(ParamBox* box) override;
    bool chooseFile(const FileChoice& choice, std::string& path) override;
    int chooseFromList(const std::string& title, const std::vector<std::string>& entries) override;
    bool snapshotView3d(
        DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

struct BatchActions {
    // Plays an animation file; false with a French reason. Unset: "animation" fails.
    std::function<bool(const std::string& path, std::string& reason)> playAnimation;
};

struct BatchResult {
    bool ok = true;
    int line = 0; // line of the first failure
    std::string message; // French, naming the line
};

// Runs the lines with host installed as the core's host (the core must be started
// with it). Waits for each command's task before the next line.
BatchResult runBatch(
    const std::vector<BatchLine>& lines, BatchHost& host, const BatchActions& actions);

// Reads the file and runs it.
BatchResult runBatchFile(const std::string& path, BatchHost& host, const BatchActions& actions);

} // namespace vexa::batch
