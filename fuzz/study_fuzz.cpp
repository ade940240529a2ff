// Study files of any bytes: the study path is the first line, whole or refused, with
// no line end, NUL or backslash left in it, and reading the file gives the same line.
// The same bytes as a surface file must give a colour or nothing.
#include "fuzzscratch.h"
#include "study/study.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexa::study;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> path = studyPathFromText(bytes);
    const std::size_t lineEnd = bytes.find_first_of(std::string_view("\n\r\0", 3));
    const std::size_t lineSize = lineEnd == std::string_view::npos ? size : lineEnd;
    if (path.has_value() != (lineSize <= kMaxStudyPathBytes))
        __builtin_trap();
    if (path
        && (path->size() != lineSize
            || path->find_first_of(std::string_view("\n\r\0\\", 4)) != std::string::npos))
        __builtin_trap();

    static const std::string file = fuzzscratch::folder().file("etude.etu");
    static const std::string mesh = fuzzscratch::folder().file("surface.hor");
    if (!fuzzscratch::put(file, data, size) || !fuzzscratch::put(mesh, data, size))
        return 0;
    const std::optional<StudyFileContent> content = readStudyFile(file);
    if (content.has_value() != path.has_value() || (content && content->line != *path))
        __builtin_trap();
    (void)meshFileColour(mesh);
    return 0;
}
