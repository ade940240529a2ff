#include "plugins/dialogapi.h"

#include "data/dataapi.h"
#include "data/registry.h"
#include "host/host.h"
#include "log/logmodel.h"
#include "views/imageview.h"
#include "views/zoom.h"

#include <vexa_guard.hpp>

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace vexa::plugins {

namespace {

constexpr std::size_t kTextBytes = sizeof(VexaDialogItemDesc::text);

bool isEdit(int kind)
{
    return kind == VEXA_DIALOG_TEXT || kind == VEXA_DIALOG_INT || kind == VEXA_DIALOG_REAL;
}

bool isToggle(int kind)
{
    return kind == VEXA_DIALOG_CHECK || kind == VEXA_DIALOG_RADIO;
}

// The number an edit field holds: leading and trailing blanks allowed, anything else
// makes it no number.
std::optional<double> numberOf(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(v))
        return std::nullopt;
    while (*end == ' ' || *end == '\t')
        ++end;
    if (*end)
        return std::nullopt;
    return v;
}

int clampToInt(double v)
{
    return static_cast<int>(std::clamp(std::trunc(v), double(INT_MIN), double(INT_MAX)));
}

std::string formatReal(double value, int decimals)
{
    char buffer[64];
    if (decimals < 0)
        std::snprintf(buffer, sizeof buffer, "%.10g", value);
    else
        std::snprintf(buffer, sizeof buffer, "%.*f", std::min(decimals, 15), value);
    return buffer;
}

} // namespace

DialogItem* DialogModel::find(int id)
{
    auto it = std::find_if(
        items.begin(), items.end(), [id](const DialogItem& i) { return i.id == id; });
    return id != 0 && it != items.end() ? &*it : nullptr;
}

const DialogItem* DialogModel::find(int id) const
{
    return const_cast<DialogModel*>(this)->find(id);
}

std::optional<DialogModel> parseDialogDescription(
    const VexaDialogItemDesc* desc, std::string* error)
{
    auto fail = [error](const std::string& message) -> std::optional<DialogModel> {
        if (error)
            *error = message;
        return std::nullopt;
    };
    if (!desc)
        return fail("Description de dialogue absente");
    DialogModel model;
    int group = 0;
    bool inGroup = false;
    for (int n = 0; n <= VEXA_DIALOG_MAX_ITEMS; ++n) {
        const VexaDialogItemDesc& entry = desc[n];
        if (entry.kind == VEXA_DIALOG_END)
            return model;
        if (n == VEXA_DIALOG_MAX_ITEMS)
            break;
        if (entry.kind < VEXA_DIALOG_TITLE || entry.kind > VEXA_DIALOG_BUTTON)
            return fail("Description de dialogue invalide : élément " + std::to_string(n)
                + " de genre inconnu (" + std::to_string(entry.kind) + ")");
        // The text need not be terminated within its 200 bytes.
        std::string text(entry.text, strnlen(entry.text, kTextBytes));
        if (entry.kind == VEXA_DIALOG_TITLE) {
            model.title = std::move(text);
            continue;
        }
        DialogItem item;
        item.kind = entry.kind;
        item.id = entry.id;
        item.text = std::move(text);
        item.checked = isToggle(entry.kind) && entry.value != 0;
        if (entry.kind == VEXA_DIALOG_RADIO) {
            if (!inGroup)
                ++group;
            item.group = group;
        }
        inGroup = entry.kind == VEXA_DIALOG_RADIO;
        model.items.push_back(std::move(item));
    }
    return fail("Description de dialogue invalide : pas de fin après "
        + std::to_string(VEXA_DIALOG_MAX_ITEMS) + " éléments");
}

void writeBackDialogDescription(const DialogModel& model, VexaDialogItemDesc* desc)
{
    if (!desc)
        return;
    // The model holds the description's items in order, titles left out.
    std::size_t next = 0;
    for (int n = 0; desc[n].kind != VEXA_DIALOG_END && next < model.items.size(); ++n) {
        VexaDialogItemDesc& entry = desc[n];
        if (entry.kind == VEXA_DIALOG_TITLE)
            continue;
        const DialogItem& item = model.items[next++];
        if (isEdit(item.kind)) {
            std::memset(entry.text, 0, kTextBytes);
            std::memcpy(entry.text, item.text.data(), std::min(item.text.size(), kTextBytes - 1));
        } else if (isToggle(item.kind)) {
            entry.value = item.checked ? 1 : 0;
        }
    }
}

bool dialogSetText(DialogModel& model, int id, const std::string& text)
{
    DialogItem* item = model.find(id);
    if (!item)
        return false;
    item->text = text;
    return true;
}

bool dialogSetInt(DialogModel& model, int id, int value)
{
    DialogItem* item = model.find(id);
    if (!item)
        return false;
    if (isToggle(item->kind))
        return dialogCheck(model, id, value != 0);
    if (!isEdit(item->kind))
        return false;
    item->text = std::to_string(value);
    return true;
}

std::optional<int> dialogGetInt(const DialogModel& model, int id)
{
    const DialogItem* item = model.find(id);
    if (!item)
        return std::nullopt;
    if (isToggle(item->kind))
        return item->checked ? 1 : 0;
    if (!isEdit(item->kind))
        return std::nullopt;
    std::optional<double> v = numberOf(item->text);
    return v ? std::optional<int>(clampToInt(*v)) : std::nullopt;
}

bool dialogSetReal(DialogModel& model, int id, double value, int decimals)
{
    DialogItem* item = model.find(id);
    if (!item || !isEdit(item->kind))
        return false;
    item->text = formatReal(value, decimals);
    return true;
}

bool dialogModifyInt(
    DialogModel& model, int id, int delta, std::optional<int> min, std::optional<int> max)
{
    DialogItem* item = model.find(id);
    if (!item || !isEdit(item->kind) || (min && max && *min > *max))
        return false;
    std::int64_t v = clampToInt(numberOf(item->text).value_or(0)) + std::int64_t(delta);
    v = std::clamp<std::int64_t>(v, min.value_or(INT_MIN), max.value_or(INT_MAX));
    item->text = std::to_string(v);
    return true;
}

bool dialogModifyReal(
    DialogModel& model, int id, double delta, std::optional<double> min, std::optional<double> max)
{
    DialogItem* item = model.find(id);
    if (!item || !isEdit(item->kind) || !std::isfinite(delta) || (min && max && !(*min <= *max)))
        return false;
    double v = numberOf(item->text).value_or(0) + delta;
    if (min)
        v = std::max(v, *min);
    if (max)
        v = std::min(v, *max);
    item->text = formatReal(v, -1);
    return true;
}

bool dialogCheck(DialogModel& model, int id, bool checked)
{
    DialogItem* item = model.find(id);
    if (!item || !isToggle(item->kind))
        return false;
    if (checked && item->kind == VEXA_DIALOG_RADIO)
        for (DialogItem& other : model.items)
            if (other.kind == VEXA_DIALOG_RADIO && other.group == item->group)
                other.checked = false;
    item->checked = checked;
    return true;
}

bool dialogCheckRange(DialogModel& model, int first, int last, int checked)
{
    bool any = false;
    for (DialogItem& item : model.items)
        if (isToggle(item.kind) && item.id != 0 && item.id >= first && item.id <= last) {
            item.checked = item.id == checked;
            any = true;
        }
    return any;
}

// The table of live windows.
namespace {

enum class WindowKind { Main, Data, Dialog };

struct LiveDialog {
    DialogModel model;
    VexaDialogProc proc = nullptr;
    void* userData = nullptr;
    bool modal = false;
    bool ended = false;
    int result = 0;
};

struct WindowEntry {
    WindowKind kind = WindowKind::Dialog;
    std::uint32_t dataId = 0;
    WindowHandle handle = nullptr;
    std::shared_ptr<LiveDialog> dialog;
};

struct WindowTable {
    std::mutex mutex;
    std::map<std::uint32_t, WindowEntry> windows;
    // Identifiers are never given twice, so a stale one never names another window.
    std::uint32_t next = 0;

    std::uint32_t add(WindowEntry entry)
    {
        if (++next == 0)
            ++next;
        windows[next] = std::move(entry);
        return next;
    }
    std::shared_ptr<LiveDialog> dialog(std::uint32_t id)
    {
        auto it = windows.find(id);
        return it != windows.end() && it->second.kind == WindowKind::Dialog ? it->second.dialog
                                                                            : nullptr;
    }
};

WindowTable& table()
{
    static WindowTable* t = new WindowTable;
    return *t;
}

void notifyChanged(std::uint32_t window)
{
    if (host())
        postToInterfaceThread(GuiRequest::PluginDialog, [window] {
            if (Host* h = host())
                h->dialogChanged(window);
        });
}

// Runs op on a live dialog's model; the widgets follow when it changed something.
template <typename Op> int withModel(std::uint32_t window, Op op)
{
    bool changed = false;
    {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        std::shared_ptr<LiveDialog> d = t.dialog(window);
        if (!d || d->ended)
            return 0;
        changed = op(d->model);
    }
    if (changed)
        notifyChanged(window);
    return changed ? 1 : 0;
}

// Reads a live dialog's model.
template <typename Op> auto readModel(std::uint32_t window, Op op) -> decltype(op(DialogModel {}))
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    std::shared_ptr<LiveDialog> d = t.dialog(window);
    if (!d)
        return {};
    return op(d->model);
}

int endDialog(std::uint32_t window, int result)
{
    {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        std::shared_ptr<LiveDialog> d = t.dialog(window);
        if (!d || d->ended)
            return 0;
        d->ended = true;
        d->result = result;
    }
    // Posted: the caller may be a worker that the interface thread waits for.
    postToInterfaceThread(GuiRequest::PluginDialog, [window] {
        if (Host* h = host())
            h->closeDialog(window);
    });
    return 1;
}

// Calls the dialog's procedure (interface thread), unless the library that holds it
// was unloaded meanwhile. Returns what it returns, 0 without a procedure.
int callProcedure(std::uint32_t window, int item)
{
    VexaDialogProc proc = nullptr;
    void* userData = nullptr;
    {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        std::shared_ptr<LiveDialog> d = t.dialog(window);
        if (!d || d->ended || !d->proc)
            return 0;
        proc = d->proc;
        userData = d->userData;
    }
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(proc), &info))
        return 0;
    return proc(window, item, userData);
}

std::uint32_t registerDialog(DialogModel model, VexaDialogProc proc, void* userData, bool modal)
{
    auto d = std::make_shared<LiveDialog>();
    d->model = std::move(model);
    d->proc = proc;
    d->userData = userData;
    d->modal = modal;
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    return t.add({ WindowKind::Dialog, 0, nullptr, std::move(d) });
}

void forget(std::uint32_t window)
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    t.windows.erase(window);
}

std::optional<DialogModel> parseOrReport(const VexaDialogItemDesc* desc)
{
    std::string error;
    std::optional<DialogModel> model = parseDialogDescription(desc, &error);
    if (!model)
        log::logPost(error.c_str());
    return model;
}

// Shows a registered dialog after its procedure's first call (interface thread);
// false when it ended already or could not be shown.
bool initialiseAndShow(std::uint32_t window, bool modal)
{
    bool shown = false;
    runOnInterfaceThread(GuiRequest::PluginDialog, [&] {
        callProcedure(window, VEXA_DIALOG_INIT);
        if (dialogEnded(window))
            return;
        Host* h = host();
        shown = h && h->showDialog(window, modal);
    });
    return shown;
}

unsigned int runModeless(VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData)
{
    std::optional<DialogModel> model = parseOrReport(desc);
    if (!model || !host())
        return 0;
    const std::uint32_t window = registerDialog(std::move(*model), proc, userData, false);
    if (!initialiseAndShow(window, false)) {
        forget(window);
        return 0;
    }
    return window;
}

int runModal(VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData)
{
    std::optional<DialogModel> model = parseOrReport(desc);
    if (!model || !host())
        return -1;
    const std::uint32_t window = registerDialog(std::move(*model), proc, userData, true);
    const bool shown = initialiseAndShow(window, true);
    std::shared_ptr<LiveDialog> d;
    {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        d = t.dialog(window);
        t.windows.erase(window);
    }
    if (!d || (!shown && !d->ended))
        return -1;
    // A window that went without ending the dialog was cancelled.
    const int result = d->ended ? d->result : VEXA_DIALOG_CANCEL;
    if (result > 0 && result != VEXA_DIALOG_CANCEL)
        writeBackDialogDescription(d->model, desc);
    return result;
}

// The record of a data window identifier, still showing the same window.
DataRecord* dataWindowRecord(const WindowEntry& entry)
{
    DataRecord* r = dataFind(entry.dataId);
    return r && r->window.load() && r->window.load() == entry.handle ? r : nullptr;
}

int closeWindow(std::uint32_t window, int endResult)
{
    std::uint32_t dataId = 0;
    {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        auto it = t.windows.find(window);
        if (it == t.windows.end() || it->second.kind == WindowKind::Main)
            return 0;
        if (it->second.kind == WindowKind::Data) {
            DataRecord* r = dataWindowRecord(it->second);
            dataId = r ? it->second.dataId : 0;
            t.windows.erase(it);
            if (!dataId)
                return 0;
        }
    }
    if (dataId)
        return vexaWindowClose(dataId);
    return endDialog(window, endResult);
}

// Image position under pixel (x, y) of the record's image area, fractional within a
// sample so that its floor is the sample a click there would give.
int positionInArea(DataRecord* r, int x, int y, double* px, double* py)
{
    ImageDescriptor* image = r ? r->image2d() : nullptr;
    if (!image || !r->window.load())
        return 0;
    ZoomView z;
    {
        std::lock_guard lock(image->lock);
        z = imageViewData(*image).zoom;
    }
    auto axis = [](int p, int origin, double zoom) {
        const int k = zoomCount(1, zoom >= 1 ? zoom : 1.0 / zoom);
        return zoom >= 1 ? origin + double(p) / k : origin + double(p) * k;
    };
    if (px)
        *px = axis(x, z.originX, z.zoomX);
    if (py)
        *py = axis(y, z.originY, z.zoomY);
    return 1;
}

} // namespace

std::optional<DialogModel> dialogSnapshot(std::uint32_t window)
{
    return readModel(window, [](const DialogModel& m) { return std::optional<DialogModel>(m); });
}

void dialogUserText(std::uint32_t window, int item, const std::string& text)
{
    // The widget already shows it: no refresh.
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    if (std::shared_ptr<LiveDialog> d = t.dialog(window); d && !d->ended)
        dialogSetText(d->model, item, text);
}

void dialogUserChecked(std::uint32_t window, int item, bool checked)
{
    if (withModel(window, [&](DialogModel& m) { return dialogCheck(m, item, checked); }))
        callProcedure(window, item);
}

void dialogUserPressed(std::uint32_t window, int item)
{
    const bool button = readModel(window, [item](const DialogModel& m) {
        const DialogItem* i = m.find(item);
        return i && i->enabled && i->kind == VEXA_DIALOG_BUTTON;
    });
    if (button && !callProcedure(window, item))
        endDialog(window, item);
}

void dialogClosed(std::uint32_t window)
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    std::shared_ptr<LiveDialog> d = t.dialog(window);
    if (!d)
        return;
    if (!d->ended) {
        d->ended = true;
        d->result = VEXA_DIALOG_CANCEL;
    }
    // A modal run reads the result, then forgets the dialog itself.
    if (!d->modal)
        t.windows.erase(window);
}

bool dialogEnded(std::uint32_t window)
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    std::shared_ptr<LiveDialog> d = t.dialog(window);
    return !d || d->ended;
}

int dialogResult(std::uint32_t window)
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    std::shared_ptr<LiveDialog> d = t.dialog(window);
    return d ? d->result : 0;
}

void dialogResetWindows()
{
    WindowTable& t = table();
    std::lock_guard lock(t.mutex);
    t.windows.clear();
}

} // namespace vexa::plugins

using namespace vexa::plugins;

unsigned int dozDialogRunFromDESC(VexaDialogItemDesc* desc, VexaDialogProc proc)
{
    return vexa::guarded([&] { return runModeless(desc, proc, nullptr); });
}

unsigned int dozDialogWithDataRunFromDESC(
    VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData)
{
    return vexa::guarded([&] { return runModeless(desc, proc, userData); });
}

int dozDialogModalRunFromDESC(VexaDialogItemDesc* desc, VexaDialogProc proc)
{
    return vexa::guarded([&] { return runModal(desc, proc, nullptr); }, -1);
}

int dozDialogModalWithDataRunFromDESC(VexaDialogItemDesc* desc, VexaDialogProc proc, void* userData)
{
    return vexa::guarded([&] { return runModal(desc, proc, userData); }, -1);
}

int dozDialogEnd(unsigned int window, int result)
{
    return vexa::guarded([&] { return endDialog(window, result); });
}

unsigned int dozDataGetMainHwnd(void)
{
    if (!vexa::host())
        return 0u;
    return vexa::guarded([] {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        for (const auto& [id, entry] : t.windows)
            if (entry.kind == WindowKind::Main)
                return id;
        return t.add({ WindowKind::Main, 0, nullptr, nullptr });
    });
}

unsigned int dozDataGetHwnd(unsigned int id)
{
    vexa::DataRecord* r = vexa::dataFind(id);
    vexa::WindowHandle handle = r ? r->window.load() : nullptr;
    if (!handle)
        return 0u;
    return vexa::guarded([&] {
        WindowTable& t = table();
        std::lock_guard lock(t.mutex);
        for (const auto& [window, entry] : t.windows)
            if (entry.kind == WindowKind::Data && entry.dataId == id && entry.handle == handle)
                return window;
        return t.add({ WindowKind::Data, id, handle, nullptr });
    });
}

int dozWindowClose(unsigned int window)
{
    return vexa::guarded([&] { return closeWindow(window, VEXA_DIALOG_CANCEL); });
}

int dozWindowDestroy(unsigned int window)
{
    return vexa::guarded([&] { return closeWindow(window, 0); });
}

int dozWindowEnableItem(unsigned int window, int item, int enable)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) {
            DialogItem* i = m.find(item);
            if (i)
                i->enabled = enable != 0;
            return i != nullptr;
        });
    });
}

int dozWindowSetItemText(unsigned int window, int item, const char* text)
{
    if (!text)
        return 0;
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) { return dialogSetText(m, item, text); });
    });
}

int dozWindowGetItemText(unsigned int window, int item, char* buffer, int size)
{
    if (!buffer || size <= 0)
        return 0;
    return vexa::guarded([&] {
        std::optional<std::string> text = readModel(window, [item](const DialogModel& m) {
            const DialogItem* i = m.find(item);
            return i ? std::optional<std::string>(i->text) : std::nullopt;
        });
        std::size_t n = text ? std::min(text->size(), std::size_t(size) - 1) : 0;
        // Never cut a UTF-8 character in two.
        while (n > 0 && n < text->size() && (static_cast<unsigned char>((*text)[n]) & 0xC0) == 0x80)
            --n;
        if (n)
            std::memcpy(buffer, text->data(), n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    });
}

int dozWindowSetItemInt(unsigned int window, int item, int value)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) { return dialogSetInt(m, item, value); });
    });
}

int dozWindowGetItemInt(unsigned int window, int item)
{
    return vexa::guarded([&] {
        return readModel(
            window, [item](const DialogModel& m) { return dialogGetInt(m, item).value_or(0); });
    });
}

int dozWindowSetItemReal(unsigned int window, int item, double value)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) { return dialogSetReal(m, item, value); });
    });
}

int dozWindowSetItemReal2(unsigned int window, int item, double value, int decimals)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) {
            return dialogSetReal(m, item, value, std::clamp(decimals, 0, 15));
        });
    });
}

int dozWindowModifyItemInt(unsigned int window, int item, int delta)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) { return dialogModifyInt(m, item, delta); });
    });
}

int dozWindowModifyItemIntMinMax(unsigned int window, int item, int delta, int min, int max)
{
    return vexa::guarded([&] {
        return withModel(
            window, [&](DialogModel& m) { return dialogModifyInt(m, item, delta, min, max); });
    });
}

int dozWindowModifyItemReal(unsigned int window, int item, double delta)
{
    return vexa::guarded([&] {
        return withModel(window, [&](DialogModel& m) { return dialogModifyReal(m, item, delta); });
    });
}

int dozWindowModifyItemRealMinMax(
    unsigned int window, int item, double delta, double min, double max)
{
    return vexa::guarded([&] {
        return withModel(
            window, [&](DialogModel& m) { return dialogModifyReal(m, item, delta, min, max); });
    });
}

int dozWindowCheckButton(unsigned int window, int item, int checked)
{
    return vexa::guarded([&] {
        return withModel(
            window, [&](DialogModel& m) { return dialogCheck(m, item, checked != 0); });
    });
}

int dozWindowCheckRadioButton(unsigned int window, int first, int last, int checked)
{
    return vexa::guarded([&] {
        return withModel(
            window, [&](DialogModel& m) { return dialogCheckRange(m, first, last, checked); });
    });
}

int dozDataGetPositionFromScreen(unsigned int id, int x, int y, double* px, double* py)
{
    return vexa::guarded([&] { return positionInArea(vexa::dataFind(id), x, y, px, py); });
}

int dozDataGetPositionFromScreen2(unsigned int id, int screenX, int screenY, double* px, double* py)
{
    return vexa::guarded([&] {
        vexa::DataRecord* r = vexa::dataFind(id);
        if (!r || !vexa::host())
            return 0;
        bool mapped = false;
        vexa::runOnInterfaceThread(vexa::GuiRequest::PluginDialog, [&] {
            if (vexa::Host* h = vexa::host())
                mapped = h->screenToImageArea(*r, screenX, screenY);
        });
        return mapped ? positionInArea(r, screenX, screenY, px, py) : 0;
    });
}
