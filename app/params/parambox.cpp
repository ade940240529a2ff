#include "params/parambox.h"

#include "params/fileselector.h"
#include "params/paramapi.h"

#include "vexa_guard.hpp"

#include <mutex>

namespace vexa::params {

VaListBindings::VaListBindings(va_list args)
{
    va_copy(args_, args);
}

VaListBindings::~VaListBindings()
{
    va_end(args_);
}

void* VaListBindings::nextPointer()
{
    return va_arg(args_, void*);
}

ParamProcedure VaListBindings::nextProcedure()
{
    return va_arg(args_, ParamProcedure);
}

void* ListBindings::nextPointer()
{
    if (next_ >= bindings_.size())
        return nullptr;
    const Binding& b = bindings_[next_++];
    const auto* p = std::get_if<void*>(&b);
    return p ? *p : nullptr;
}

ParamProcedure ListBindings::nextProcedure()
{
    if (next_ >= bindings_.size())
        return nullptr;
    const Binding& b = bindings_[next_++];
    const auto* p = std::get_if<ParamProcedure>(&b);
    return p ? *p : nullptr;
}

int32_t kindForDirective(char letter)
{
    switch (letter) {
    case 'd':
        return PARAM_INT;
    case 'f':
        return PARAM_REAL;
    case 's':
        return PARAM_STRING;
    case 'h':
        return PARAM_FILE;
    case 'l':
        return PARAM_LIST;
    case 'L':
        return PARAM_LONGLIST;
    case 'c':
        return PARAM_CHECK;
    case 'P':
        return PARAM_BUTTON;
    case 't':
        return PARAM_TITLE;
    case 'n':
        return PARAM_NEWLINE;
    default:
        return 0;
    }
}

void parseDescription(ParamBox& box, const char* description, BindingSource& bindings)
{
    if (!description) {
        box.valid = 0;
        return;
    }
    box.valid = 1;

    // The slot opened by '%' is only counted once its letter is known, so a trailing
    // '%' or an unknown letter leaves no half-built item behind.
    std::string pending;
    std::string slotLabel;
    bool inDirective = false;
    for (const char* p = description; *p; ++p) {
        if (box.count() >= PARAM_MAX_ITEMS)
            return;
        char c = *p;
        if (c == '%') {
            // "%%" reopens the same slot with the (empty) pending label: there is no
            // escape for a literal percent sign.
            slotLabel = std::move(pending);
            pending.clear();
            inDirective = true;
            continue;
        }
        if (!inDirective) {
            pending.push_back(c);
            continue;
        }
        int32_t kind = kindForDirective(c);
        if (kind == 0) {
            box.valid = 0;
            return;
        }
        ParamItem item;
        item.label = std::move(slotLabel);
        slotLabel.clear();
        item.kind = kind;
        if (kind == PARAM_BUTTON) {
            item.procedure = bindings.nextProcedure();
            item.value = bindings.nextPointer();
        } else if (kind != PARAM_TITLE && kind != PARAM_NEWLINE) {
            item.value = bindings.nextPointer();
        }
        box.items.push_back(std::move(item));
        inDirective = false;
    }
}

namespace {

std::mutex presenterMutex;
ParamDialogPresenter& dialogPresenter()
{
    static ParamDialogPresenter presenter;
    return presenter;
}

} // namespace

void setParamDialogPresenter(ParamDialogPresenter presenter)
{
    std::lock_guard lock(presenterMutex);
    dialogPresenter() = std::move(presenter);
}

void chooseNamesToWrite(ParamBox* box, const char* title)
{
    if (!box)
        return;
    for (ParamItem& item : box->items)
        if (item.kind == PARAM_FILE && !item.fileSelector) {
            item.fileSelector.reset(dozFileInit(nullptr, title));
            if (item.fileSelector)
                item.fileSelector->options |= FileSelector::kSaveName;
        }
}

int showParamBox(std::unique_ptr<ParamBox> box)
{
    if (!box || !box->valid)
        return 0;
    ParamDialogPresenter presenter;
    {
        std::lock_guard lock(presenterMutex);
        presenter = dialogPresenter();
    }
    if (!presenter)
        return 0;
    return presenter(box.get()) == 1 ? 1 : 0;
}

} // namespace vexa::params

using namespace vexa::params;

namespace {

int parseAndShow(const char* description, va_list args, bool cancellable)
{
    return vexa::guarded([&] {
        auto box = std::make_unique<ParamBox>();
        VaListBindings bindings(args);
        parseDescription(*box, description, bindings);
        box->cancellable = cancellable;
        return showParamBox(std::move(box));
    });
}

int takeAndShow(ParamBox* box, bool cancellable)
{
    // Taken over at once: an invalid box would otherwise leak, since plug-ins have no
    // other way to release it.
    std::unique_ptr<ParamBox> owned(box);
    if (owned)
        owned->cancellable = cancellable;
    return vexa::guarded([&] { return showParamBox(std::move(owned)); });
}

} // namespace

extern "C" {

VEXA_API int dozBoxParameterV(const char* description, va_list args)
{
    return parseAndShow(description, args, true);
}

VEXA_API int dozBoxParameter(const char* description, ...)
{
    va_list args;
    va_start(args, description);
    int result = dozBoxParameterV(description, args);
    va_end(args);
    return result;
}

VEXA_API ParamBox* dozBoxParameterAddV(ParamBox* box, const char* description, va_list args)
{
    try {
        std::unique_ptr<ParamBox> created;
        ParamBox* target = box;
        if (!target) {
            created = std::make_unique<ParamBox>();
            target = created.get();
        }
        VaListBindings bindings(args);
        parseDescription(*target, description, bindings);
        created.release();
        return target;
    } catch (...) {
        // Out of memory half-way: the box must not be shown with half its items.
        if (box)
            box->valid = 0;
        return box;
    }
}

VEXA_API ParamBox* dozBoxParameterAdd(ParamBox* box, const char* description, ...)
{
    va_list args;
    va_start(args, description);
    ParamBox* result = dozBoxParameterAddV(box, description, args);
    va_end(args);
    return result;
}

VEXA_API int dozBoxParameterDialog(ParamBox* box)
{
    return takeAndShow(box, true);
}

VEXA_API int dozBoxParameterPlugin(const char* description, ...)
{
    va_list args;
    va_start(args, description);
    int result = parseAndShow(description, args, false);
    va_end(args);
    return result;
}

VEXA_API int dozBoxParameterDialogPlugin(ParamBox* box)
{
    return takeAndShow(box, false);
}

VEXA_API void dozBoxParameterRelease(ParamBox* box)
{
    delete box;
}

} // extern "C"
