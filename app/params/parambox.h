// Parameter boxes: the parsed form of a parameter description, and what a dialog needs
// to show it. The dialog itself lives in the GUI; it is reached through a presenter
// installed at start-up (setParamDialogPresenter).
#pragma once

#include "params/fileselector.h"
#include "params/paramapi.h"

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Opaque handle of a control created by the dialog.
using ParamWindowHandle = void*;

struct ParamItem {
    std::string label;
    int32_t kind = 0;
    ParamProcedure procedure = nullptr; // PARAM_BUTTON only
    void* value = nullptr; // caller's storage; for PARAM_BUTTON the procedure's argument
    ParamWindowHandle control = nullptr;
    int32_t controlId = 0;
    ParamWindowHandle chooserButton = nullptr; // PARAM_FILE only
    int32_t chooserButtonId = 0;
    vexa::params::FileSelectorPtr fileSelector; // PARAM_FILE only, made by the dialog
};

struct ParamBox {
    std::vector<ParamItem> items;
    int32_t valid = 1;
    // Boxes of built-in commands offer "Annuler" and close on Escape. Plug-ins were
    // written for a dialog that only "Ok", Enter and the window's close control end.
    bool cancellable = false;

    int32_t count() const { return static_cast<int32_t>(items.size()); }
};

namespace vexa::params {

// Where the parser takes the bindings of the directives from, in text order.
class BindingSource {
public:
    virtual ~BindingSource() = default;
    virtual void* nextPointer() = 0;
    virtual ParamProcedure nextProcedure() = 0;
};

// Bindings of a C variadic call. The list is copied, so the caller's va_list is left
// as it was given.
class VaListBindings final : public BindingSource {
public:
    explicit VaListBindings(va_list args);
    ~VaListBindings() override;
    VaListBindings(const VaListBindings&) = delete;
    VaListBindings& operator=(const VaListBindings&) = delete;
    void* nextPointer() override;
    ParamProcedure nextProcedure() override;

private:
    va_list args_;
};

// Bindings given as a list, for C++ callers and tests. A binding of the wrong
// alternative, or a missing one, reads as null.
using Binding = std::variant<void*, ParamProcedure>;
class ListBindings final : public BindingSource {
public:
    explicit ListBindings(std::vector<Binding> bindings)
        : bindings_(std::move(bindings))
    {
    }
    void* nextPointer() override;
    ParamProcedure nextProcedure() override;
    size_t used() const { return next_; }

private:
    std::vector<Binding> bindings_;
    size_t next_ = 0;
};

// Appends the items of description to box and sets box.valid from this parse:
// 0 after an unknown directive letter (the items read before it stay), 1 otherwise.
// Reading stops silently once the box holds PARAM_MAX_ITEMS items. A null
// description is a failed parse that adds nothing.
void parseDescription(ParamBox& box, const char* description, BindingSource& bindings);

// Letter of a directive -> kind code, 0 for an unknown letter.
int32_t kindForDirective(char letter);

// Gives every file field of box that has no chooser yet one titled title that picks a
// name to write: the chosen file need not exist. Null box accepted.
void chooseNamesToWrite(ParamBox* box, const char* title);

// Shows the box in the dialog and releases it; 1 when validated, 0 otherwise (null
// or invalid box, no presenter installed, dialog closed).
int showParamBox(std::unique_ptr<ParamBox> box);

// The dialog presenter runs the dialog for a valid box on the GUI thread and answers
// 1 (validated, the bindings written back with validateParamBox) or 0 (closed). It
// must not release the box. Installing an empty function removes it; without a
// presenter every dialog answers 0.
using ParamDialogPresenter = std::function<int(ParamBox*)>;
void setParamDialogPresenter(ParamDialogPresenter presenter);

} // namespace vexa::params
