// Volumes and images made directly in the registry for the processing tests, and a
// parameter presenter that edits the bound values before the fake host answers.
#pragma once

#include "../tasks/tasktestsupport.h"

#include "data/section.h"
#include "params/parambox.h"
#include "processing/processing.h"

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace vexa::testing {

class ProcessingFixture : public TaskFixture {
protected:
    void SetUp() override
    {
        TaskFixture::SetUp();
        processing::resetProcessingSettings();
        params::setParamDialogPresenter([this](ParamBox* box) {
            std::function<void(ParamBox&)> edit;
            {
                std::lock_guard lock(mutex);
                std::string labels;
                for (const ParamItem& item : box->items)
                    labels += item.label + "|";
                boxes.push_back(labels);
                if (!edits.empty()) {
                    edit = std::move(edits.front());
                    edits.pop_front();
                }
            }
            if (edit)
                edit(*box);
            return hostParamDialog(box);
        });
    }

    void TearDown() override
    {
        TaskFixture::TearDown();
        params::setParamDialogPresenter({});
        processing::resetProcessingSettings();
    }

    // The next dialog is validated after edit has changed the bound values.
    void answer(std::function<void(ParamBox&)> edit = {})
    {
        {
            std::lock_guard lock(mutex);
            edits.push_back(std::move(edit));
        }
        host.queueParamAnswer(1);
    }

    template <typename T> static void setItem(ParamBox& box, std::size_t index, T value)
    {
        ASSERT_LT(index, box.items.size());
        *static_cast<T*>(box.items[index].value) = value;
    }

    void run(int command)
    {
        ASSERT_TRUE(processing::runProcessingCommand(command, nullptr));
        ASSERT_TRUE(waitForWorkers());
        host.processPending();
    }

    DataRecord* volume(int dimX, int dimY, int dimZ, int type)
    {
        auto object = std::make_unique<ImageObject>();
        object->block = std::make_unique<BlockDescriptor>();
        BlockDescriptor& b = *object->block;
        b.dimX = dimX;
        b.dimY = dimY;
        b.dimZ = dimZ;
        b.typeData = type;
        EXPECT_TRUE(blockPrepareStorage(b));
        DataRecord* record = dataCreateImage(std::move(object), kFreshId, kFreshId);
        EXPECT_NE(record, nullptr);
        return record;
    }

    template <typename T, typename Fn> static void fill(DataRecord* record, Fn value)
    {
        const BlockDescriptor& b = *record->block();
        T* p = reinterpret_cast<T*>(b.samples.data());
        for (int z = 0; z < b.dimZ; ++z)
            for (int y = 0; y < b.dimY; ++y)
                for (int x = 0; x < b.dimX; ++x)
                    *p++ = static_cast<T>(value(x, y, z));
    }

    template <typename T> static T at(DataRecord* record, int x, int y, int z)
    {
        const BlockDescriptor& b = *record->block();
        std::size_t i
            = (std::size_t(z) * std::size_t(b.dimY) + std::size_t(y)) * std::size_t(b.dimX)
            + std::size_t(x);
        return reinterpret_cast<const T*>(b.samples.data())[i];
    }

    template <typename T>
    DataRecord* image(int width, int height, int type, const std::vector<T>& values)
    {
        DataRecord* record = newImage(width, height);
        ImageDescriptor& im = *record->image2d();
        im.typeData = type;
        im.samples.allocate(values.size() * sizeof(T));
        std::memcpy(im.samples.data(), values.data(), values.size() * sizeof(T));
        dataActivate(record);
        return record;
    }

    template <typename T> static std::vector<T> samplesOf(const DataRecord* record)
    {
        const ImageDescriptor& im = *record->image2d();
        std::vector<T> values(std::size_t(im.sampleCount()));
        std::memcpy(values.data(), im.samples.data(), values.size() * sizeof(T));
        return values;
    }

    // Records made since the test's inputs, oldest first.
    std::vector<DataRecord*> outputs(const std::vector<DataRecord*>& inputs)
    {
        std::vector<DataRecord*> found;
        for (DataRecord* record : dataListAll()) {
            bool input = false;
            for (DataRecord* in : inputs)
                input = input || in == record;
            if (!input)
                found.insert(found.begin(), record);
        }
        return found;
    }

    std::mutex mutex;
    std::deque<std::function<void(ParamBox&)>> edits;
    std::vector<std::string> boxes;
};

} // namespace vexa::testing
