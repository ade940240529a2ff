// Shared by the import and export tests: a fake host with scripted parameter boxes,
// a clean registry and remembered answers per test, temporary directories, and small
// file helpers.
#pragma once

#include "data/dataopen.h"
#include "data/datasave.h"
#include "data/newdata.h"
#include "data/rawimport.h"
#include "data/registry.h"
#include "data/series.h"
#include "params/parambox.h"
#include "support/fakehost.h"
#include "support/tempdir.h"
#include "vexafile.h"
#include "vexamem.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace importtest {

// The values of a box, counted over the items that bind a variable (titles and row
// ends left out), in description order.
inline std::vector<ParamItem*> boundItems(ParamBox& box)
{
    std::vector<ParamItem*> out;
    for (ParamItem& item : box.items)
        if (item.kind != PARAM_TITLE && item.kind != PARAM_NEWLINE)
            out.push_back(&item);
    return out;
}

inline void setInt(ParamBox& box, int n, int value)
{
    *static_cast<std::int32_t*>(boundItems(box).at(std::size_t(n))->value) = value;
}

inline int getInt(ParamBox& box, int n)
{
    return *static_cast<std::int32_t*>(boundItems(box).at(std::size_t(n))->value);
}

inline void setText(ParamBox& box, int n, const std::string& text, std::size_t capacity)
{
    char* buffer = static_cast<char*>(boundItems(box).at(std::size_t(n))->value);
    std::snprintf(buffer, capacity, "%s", text.c_str());
}

inline std::string getText(ParamBox& box, int n)
{
    return static_cast<const char*>(boundItems(box).at(std::size_t(n))->value);
}

// One answer of a box: the edit applied to its variables, and what the dialog says.
struct BoxAnswer {
    int result = 1;
    std::function<void(ParamBox&)> edit;
};

class ImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vexa::installHost(&host);
        vexa::dataResetRegistry();
        vexa::rawImportRemember({});
        vexa::depthConversionRemember(false);
        vexa::newDataRemember({});
        vexa::SeriesSettings series;
        series.destination = vexa::seriesDefaultDestination();
        vexa::seriesRemember(series);
        vexa::setSaveFormatPresenter({});
        vexa::params::setParamDialogPresenter([this](ParamBox* box) {
            std::string labels;
            for (const ParamItem& item : box->items)
                labels += item.label + "|";
            boxLabels.push_back(labels);
            if (answers.empty())
                return 0;
            BoxAnswer answer = answers.front();
            answers.pop_front();
            if (answer.edit)
                answer.edit(*box);
            return answer.result;
        });
        ASSERT_TRUE(folder.ok());
        dir = folder.path();
    }

    void TearDown() override
    {
        vexa::params::setParamDialogPresenter({});
        vexa::setSaveFormatPresenter({});
        vexa::dataResetRegistry();
        vexa::installHost(nullptr);
    }

    void answer(std::function<void(ParamBox&)> edit, int result = 1)
    {
        answers.push_back({ result, std::move(edit) });
    }
    void cancelNextBox() { answers.push_back({ 0, {} }); }

    std::string file(const std::string& name) const { return dir + "/" + name; }

    // Message boxes shown so far, as "caption|text".
    std::vector<std::string> messages() const
    {
        std::vector<std::string> out;
        for (const auto& r : host.requests())
            if (r.code == vexa::GuiRequest::MessageBox)
                out.push_back(r.text);
        return out;
    }

    vexa::FakeHost host;
    std::deque<BoxAnswer> answers;
    std::vector<std::string> boxLabels;
    vexatest::TempDir folder { "vexa-import" };
    std::string dir;
};

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<std::uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(
        (std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Samples as doubles (RGBA gives 0, as the conversion rule says).
inline std::vector<double> asDoubles(const void* data, int count, int type)
{
    std::vector<double> out;
    if (!data || count <= 0)
        return out;
    void* d = vexaMemConvert(data, count, 1, 0, type, TYPEDATA_F64);
    out.assign(static_cast<double*>(d), static_cast<double*>(d) + count);
    std::free(d);
    return out;
}

// Writes a file with a header of the given kind holding the volume of values.
inline bool writeVolume(const std::string& path, int kind, int type, int w, int h, int d,
    const std::vector<double>& values)
{
    FileDescriptor* desc = vexaFileNew();
    vexaFileSetFullName(desc, path.c_str());
    vexaFileSetSizes(desc, w, h, d);
    vexaFileSetTypeData(desc, type);
    vexaFileSetNbBits(desc, vexaTypeBits(type));
    vexaFileSetSign(desc, vexaTypeSign(type));
    vexaFileSetHeader(desc, kind);
    bool ok = vexaFileWriteHeader(desc) != 0;
    void* samples = vexaMemConvert(values.data(), int(values.size()), 1, 0, TYPEDATA_F64, type);
    ok = ok && samples && vexaFileWriteBlock(desc, samples);
    std::free(samples);
    vexaFileRelease(desc);
    return ok;
}

// The whole volume of a file whose header reads, as doubles; empty otherwise.
inline std::vector<double> readVolume(const std::string& path, int* type = nullptr,
    int* w = nullptr, int* h = nullptr, int* d = nullptr)
{
    vexa::FileHandle desc = vexa::dataOpenDescriptor(path);
    if (!desc)
        return {};
    int fw = 0, fh = 0, fd = 0;
    vexaFileGetSizes(desc.get(), &fw, &fh, &fd);
    const int t = vexaFileGetTypeData(desc.get());
    void* samples = vexaFileReadBlockPart(desc.get(), 0, 0, 0, 0, fw, fh, fd);
    std::vector<double> out = asDoubles(samples, fw * fh * fd, t);
    vexaFileFree(samples);
    if (type)
        *type = t;
    if (w)
        *w = fw;
    if (h)
        *h = fh;
    if (d)
        *d = fd;
    return out;
}

} // namespace importtest
