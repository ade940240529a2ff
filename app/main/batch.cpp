#include "main/batch.h"

#include "data/dataopen.h"
#include "data/datasave.h"
#include "data/registry.h"
#include "main/mainmenus.h"
#include "params/parambox.h"
#include "params/paramdialog.h"
#include "plugins/libraries.h"
#include "plugins/librarymenus.h"
#include "processing/processing.h"
#include "processing/processingmenus.h"
#include "tasks/workerthread.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>
#include <utility>

namespace vexa::batch {

namespace {

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string lineText(int number)
{
    return "Ligne " + std::to_string(number) + " : ";
}

// Menu texts carry '&' marks and accelerator text after a tab.
std::string plainLabel(const std::string& text)
{
    std::string out;
    for (char c : text.substr(0, text.find('\t')))
        if (c != '&')
            out += c;
    return trim(out);
}

std::vector<std::string> splitPath(const std::string& label)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto next = label.find('>', start);
        parts.push_back(trim(label.substr(start, next - start)));
        if (next == std::string::npos)
            return parts;
        start = next + 1;
    }
}

// Depth-first: the item whose label is the last part, under sub-menus matching the
// parts before it (in order, not necessarily consecutive levels).
int findInMenu(const menus::MenuNode& node, const std::vector<std::string>& path, std::size_t part)
{
    for (const auto& child : node.children) {
        if (!child)
            continue;
        const std::string label = plainLabel(child->text);
        if (child->kind == menus::MenuNode::Kind::Item) {
            if (part + 1 == path.size() && label == path[part] && child->id != 0)
                return child->id;
        } else if (child->kind == menus::MenuNode::Kind::SubMenu) {
            const bool matches = part + 1 < path.size() && label == path[part];
            if (int id = findInMenu(*child, path, matches ? part + 1 : part))
                return id;
        }
    }
    return 0;
}

// The menus a user would see: a volume's data window first (its "Traitement 3D"
// comes before "Traitement 2D"), then the main window's, with what libraries insert.
int findCommand(const std::string& label, bool volumeFirst)
{
    const auto path = splitPath(label);
    auto data = menus::dataMenuBar(volumeFirst);
    if (menus::MenuNode* menu3d = data->findSubMenu(menus::kMenu3d)) {
        processing::appendProcessingMenus3d(*menu3d);
        plugins::appendInsertedMenus(*menu3d, plugins::MenuLocation::Menu3d);
    }
    if (menus::MenuNode* menu2d = data->findSubMenu(menus::kMenu2d)) {
        processing::appendProcessingMenus2d(*menu2d);
        plugins::appendInsertedMenus(*menu2d, plugins::MenuLocation::Menu2d);
    }
    if (volumeFirst)
        if (menus::MenuNode* menu3d = data->findSubMenu(menus::kMenu3d))
            if (int id = findInMenu(*menu3d, path, 0))
                return id;
    if (int id = findInMenu(*data, path, 0))
        return id;
    auto main = menus::mainMenuBar(taskMultitask(), taskSafeMode());
    if (menus::MenuNode* processingMenu = main->findSubMenu(menus::kMenuProcessing))
        plugins::appendInsertedMenus(*processingMenu, plugins::MenuLocation::Processing);
    return findInMenu(*main, path, 0);
}

bool answerYes(const std::string& text)
{
    std::string lower;
    for (char c : text)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "1" || lower == "oui" || lower == "vrai" || lower == "on";
}

// A save format whose own filter line lists the extension of path.
bool formatForPath(const std::string& path, bool block, SaveRequest& request)
{
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string extension;
    for (char c : path.substr(dot))
        extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (bool threeD : { block, false }) {
        for (const SaveFormat& format : saveFormatsListed(threeD)) {
            if (format.code == SAVE_FORMAT_INRIA_REFERENCE)
                continue;
            std::string filter = saveDataFilters(format.code);
            filter = filter.substr(0, filter.find(";;"));
            std::string lower;
            for (char c : filter)
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::string pattern = "*" + extension;
            const auto at = lower.find(pattern);
            if (at == std::string::npos)
                continue;
            const char after
                = at + pattern.size() < lower.size() ? lower[at + pattern.size()] : ')';
            if (after != ' ' && after != ')' && after != ';')
                continue;
            request.threeD = threeD;
            request.formatCode = format.code;
            return true;
        }
    }
    return false;
}

} // namespace

bool parseBatch(const std::string& text, std::vector<BatchLine>& lines, std::string& error)
{
    static const char* const kKeywords[]
        = { "ouvrir", "valeur", "fichier", "commande", "sauver", "animation" };
    std::istringstream in(text);
    std::string raw;
    int number = 0;
    lines.clear();
    while (std::getline(in, raw)) {
        ++number;
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        const auto space = line.find_first_of(" \t");
        BatchLine parsed;
        parsed.number = number;
        for (char c : line.substr(0, space))
            parsed.keyword += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        parsed.argument = space == std::string::npos ? std::string() : trim(line.substr(space));
        if (std::find_if(std::begin(kKeywords), std::end(kKeywords),
                [&](const char* k) { return parsed.keyword == k; })
            == std::end(kKeywords)) {
            error = lineText(number) + "instruction inconnue « " + parsed.keyword + " »";
            return false;
        }
        if (parsed.argument.empty()) {
            error = lineText(number) + "« " + parsed.keyword + " » sans argument";
            return false;
        }
        if (parsed.keyword == "valeur" && parsed.argument.find('=') == std::string::npos) {
            error = lineText(number) + "« valeur » attend « libellé = valeur »";
            return false;
        }
        lines.push_back(std::move(parsed));
    }
    return true;
}

struct BatchHost::State {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    std::uintptr_t nextWindow = 0;
    std::map<WindowHandle, DataRecord*> windows;
    WindowHandle lastCreated = nullptr;
};

BatchHost::BatchHost()
    : state_(std::make_unique<State>())
{
}

BatchHost::~BatchHost() = default;

int BatchHost::pump()
{
    int ran = 0;
    while (true) {
        std::function<void()> fn;
        {
            std::lock_guard lock(state_->mutex);
            if (state_->queue.empty())
                return ran;
            fn = std::move(state_->queue.front());
            state_->queue.pop_front();
        }
        fn();
        ++ran;
    }
}

DataRecord* BatchHost::takeLastCreated()
{
    WindowHandle window = std::exchange(state_->lastCreated, nullptr);
    return window ? dataFindByWindow(window) : nullptr;
}

void BatchHost::post(std::function<void()> fn)
{
    std::lock_guard lock(state_->mutex);
    state_->queue.push_back(std::move(fn));
}

WindowHandle BatchHost::createWindow(DataRecord& record, GuiRequest)
{
    // Never dereferenced: a token the core stores and compares.
    auto* handle = reinterpret_cast<WindowHandle>(++state_->nextWindow * 16);
    state_->windows[handle] = &record;
    state_->lastCreated = handle;
    return handle;
}

void BatchHost::closeWindow(WindowHandle window)
{
    auto found = state_->windows.find(window);
    if (found == state_->windows.end())
        return;
    DataRecord* record = found->second;
    state_->windows.erase(found);
    if (dataFindByWindow(window) == record) {
        record->window = nullptr;
        dataDelete(record);
    }
}

MessageAnswer BatchHost::messageBox(
    const std::string& caption, const std::string& text, MessageButtons buttons)
{
    messages.push_back(caption + " : " + text);
    // A question in a run asked for by the user: go on.
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
}

int BatchHost::paramDialog(ParamBox* box)
{
    if (!box)
        return 0;
    std::vector<std::string> texts;
    std::string caption; // the last title or label before a list
    int lists = 0;
    for (ParamItem& item : box->items) {
        texts.push_back(params::fieldText(item));
        const std::string label = trim(item.label);
        auto given = values.find(label);
        switch (item.kind) {
        case PARAM_TITLE:
            caption = label;
            break;
        case PARAM_LIST:
        case PARAM_LONGLIST: {
            ++lists;
            given = values.find("liste " + std::to_string(lists));
            if (given == values.end() && !caption.empty())
                given = values.find(caption);
            if (given == values.end())
                break;
            const auto entries = params::cutListLabel(item.label);
            int index = -1;
            for (std::size_t i = 0; i < entries.size(); ++i)
                if (trim(entries[i]) == given->second)
                    index = static_cast<int>(i);
            if (index < 0) {
                if (auto number = params::readInt32(given->second))
                    if (*number >= 0 && static_cast<std::size_t>(*number) < entries.size())
                        index = *number;
            }
            if (index < 0) {
                messages.push_back("Paramètre : « " + given->second + " » absent de la liste « "
                    + given->first + " »");
                return 0;
            }
            params::selectListEntry(item, index);
            usedLabels.push_back(given->first);
            break;
        }
        case PARAM_CHECK:
            if (given != values.end()) {
                if ((params::boundIndex(item) != 0) != answerYes(given->second))
                    params::toggleCheck(item);
                usedLabels.push_back(given->first);
            }
            break;
        case PARAM_FILE:
            if (given != values.end() && item.value) {
                // A cut path would name another file.
                if (given->second.size() > params::kMaxPathChars) {
                    messages.push_back("Paramètre : chemin trop long pour « " + label + " »");
                    return 0;
                }
                std::memcpy(item.value, given->second.c_str(), given->second.size() + 1);
                usedLabels.push_back(given->first);
            }
            caption = label;
            break;
        case PARAM_INT:
        case PARAM_REAL:
        case PARAM_STRING:
            if (given != values.end()) {
                texts.back() = given->second;
                usedLabels.push_back(given->first);
            }
            caption = label;
            break;
        default:
            if (!label.empty())
                caption = label;
            break;
        }
    }
    params::validateParamBox(*box, texts);
    return 1;
}

bool BatchHost::chooseFile(const FileChoice&, std::string& path)
{
    if (fileAnswers.empty())
        return false;
    path = fileAnswers.front();
    fileAnswers.erase(fileAnswers.begin());
    return true;
}

int BatchHost::chooseFromList(const std::string&, const std::vector<std::string>& entries)
{
    auto given = values.find("choix");
    if (given == values.end())
        return -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i] == given->second) {
            usedLabels.push_back("choix");
            return static_cast<int>(i);
        }
    return -1;
}

bool BatchHost::snapshotView3d(
    DataRecord& record, int width, int height, std::vector<std::uint8_t>& rgba)
{
    return snapshot && snapshot(record, width, height, rgba);
}

namespace {

// Runs posted requests until every worker is done.
void waitForCommands(BatchHost& host)
{
    do {
        host.pump();
        taskWaitForWorkers([&host] { host.pump(); }, std::chrono::hours(24));
    } while (host.pump() > 0 || taskRunningWorkers() > 0);
}

} // namespace

BatchResult runBatch(
    const std::vector<BatchLine>& lines, BatchHost& host, const BatchActions& actions)
{
    BatchResult result;
    // Boxes reach the host as in the program (the window layer installs the same).
    params::setParamDialogPresenter([](ParamBox* box) { return hostParamDialog(box); });
    auto fail = [&](const BatchLine& line, const std::string& text) {
        result.ok = false;
        result.line = line.number;
        result.message = lineText(line.number) + text;
        return result;
    };
    for (const BatchLine& line : lines) {
        if (line.keyword == "valeur") {
            const auto equal = line.argument.find('=');
            host.values[trim(line.argument.substr(0, equal))]
                = trim(line.argument.substr(equal + 1));
        } else if (line.keyword == "fichier") {
            host.fileAnswers.push_back(line.argument);
        } else if (line.keyword == "ouvrir") {
            std::string reason;
            DataRecord* record = dataOpenFile(line.argument, &reason);
            host.pump();
            if (!record)
                return fail(line,
                    "impossible d'ouvrir « " + line.argument + " »"
                        + (reason.empty() ? std::string() : " : " + reason));
            dataActivate(record);
        } else if (line.keyword == "commande") {
            DataRecord* active = dataActive();
            const bool volume = active && active->block();
            const int id = findCommand(line.argument, volume);
            if (id == 0)
                return fail(line, "commande inconnue « " + line.argument + " »");
            host.usedLabels.clear();
            host.takeLastCreated();
            const std::size_t messagesBefore = host.messages.size();
            WindowHandle window = active ? active->window.load() : nullptr;
            if (!processing::runProcessingCommand(id, window)
                && !plugins::runLibraryCommand(id, window)) {
                if (id == menus::kCmdNewImage3d)
                    processing::runNewImage3dTask(id);
                else
                    return fail(line, "« " + line.argument + " » ne peut pas être lancée ici");
            }
            waitForCommands(host);
            for (const auto& [label, value] : host.values)
                if (std::find(host.usedLabels.begin(), host.usedLabels.end(), label)
                    == host.usedLabels.end())
                    return fail(
                        line, "aucun paramètre « " + label + " » dans « " + line.argument + " »");
            host.values.clear();
            // Commands tell the user only why they could not go on.
            if (host.messages.size() > messagesBefore)
                return fail(line, host.messages[messagesBefore]);
            // Like a new window, a result becomes the active datum.
            if (DataRecord* made = host.takeLastCreated())
                dataActivate(made);
        } else if (line.keyword == "sauver") {
            DataRecord* record = dataActive();
            if (!record || !record->image)
                return fail(line, "aucune donnée à sauver");
            SaveRequest request;
            if (!formatForPath(line.argument, record->block() != nullptr, request))
                return fail(line, "format inconnu pour « " + line.argument + " »");
            request.path = line.argument;
            const int type = request.threeD && record->block() ? record->block()->typeData
                                                               : record->image2d()->typeData;
            const auto types = saveFormatTypes(request.formatCode);
            request.typeData = std::find(types.begin(), types.end(), type) != types.end()
                ? type
                : types.at(static_cast<std::size_t>(
                    std::clamp(saveFormatDefaultTypePosition(request.formatCode, type), 0,
                        static_cast<int>(types.size()) - 1)));
            std::string reason;
            if (!dataSave(record, request, &reason))
                return fail(
                    line, "échec de la sauvegarde de « " + line.argument + " » : " + reason);
        } else if (line.keyword == "animation") {
            if (!actions.playAnimation)
                return fail(line, "lecture d'animation indisponible");
            std::string reason;
            const std::size_t messagesBefore = host.messages.size();
            const bool played = actions.playAnimation(line.argument, reason);
            waitForCommands(host);
            if (!played)
                return fail(line, reason);
            // A film that could not be written is told in a box: the line failed.
            if (host.messages.size() > messagesBefore)
                return fail(line, host.messages[messagesBefore]);
        }
    }
    return result;
}

BatchResult runBatchFile(const std::string& path, BatchHost& host, const BatchActions& actions)
{
    BatchResult result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        result.ok = false;
        result.message = "Impossible de lire le fichier de commandes « " + path + " »";
        return result;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::vector<BatchLine> lines;
    std::string error;
    if (!parseBatch(text.str(), lines, error)) {
        result.ok = false;
        result.message = error;
        return result;
    }
    return runBatch(lines, host, actions);
}

} // namespace vexa::batch
