#include "params/fileselector.h"

#include "vexa_guard.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace vexa::params {
namespace {

std::mutex presenterMutex;
FileChooserPresenter& chooserPresenter()
{
    static FileChooserPresenter presenter;
    return presenter;
}

} // namespace

size_t copyBounded(char* buffer, size_t capacity, std::string_view text, size_t maxChars)
{
    if (!buffer || capacity == 0)
        return 0;
    size_t n = std::min({ text.size(), maxChars, capacity - 1 });
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n;
}

bool setChosenFile(FileSelector& selector, std::string_view path)
{
    if (path.size() > kMaxPathChars)
        return false;
    copyBounded(selector.fileName.data(), selector.fileName.size(), path, kMaxPathChars);
    size_t slash = path.find_last_of('/');
    std::string_view title = slash == std::string_view::npos ? path : path.substr(slash + 1);
    copyBounded(selector.fileTitle.data(), selector.fileTitle.size(), title, kMaxPathChars);
    return true;
}

void setFileChooserPresenter(FileChooserPresenter presenter)
{
    std::lock_guard lock(presenterMutex);
    chooserPresenter() = std::move(presenter);
}

static int openChooser(FileSelector& selector)
{
    FileChooserPresenter presenter;
    {
        std::lock_guard lock(presenterMutex);
        presenter = chooserPresenter();
    }
    if (!presenter)
        return 0;
    std::optional<std::string> chosen = presenter(selector);
    if (!chosen || chosen->empty())
        return 0;
    return setChosenFile(selector, *chosen) ? 1 : 0;
}

} // namespace vexa::params

using namespace vexa::params;

extern "C" {

VEXA_API FileSelector* dozFileInit(void* /*owner: the chooser has none*/, const char* title)
{
    return vexa::guarded([&]() -> FileSelector* {
        auto selector = new FileSelector;
        if (title)
            selector->title = title;
        return selector;
    });
}

VEXA_API void dozFileSetName(FileSelector* selector, const char* name)
{
    if (!selector || !name)
        return;
    copyBounded(selector->fileName.data(), selector->fileName.size(), name, kMaxPathChars);
}

VEXA_API int dozFileSelectorOpen(FileSelector* selector)
{
    if (!selector)
        return 0;
    return vexa::guarded([&] { return openChooser(*selector); });
}

VEXA_API char* dozFileGetName(FileSelector* selector)
{
    return selector ? selector->fileName.data() : nullptr;
}

VEXA_API int dozFileDestroy(FileSelector* selector)
{
    delete selector;
    return 0;
}

} // extern "C"
