// Built-in commands suspended and stopped from the task window: a stopped command
// leaves no result behind, a resumed one finishes with the full result.
#include "processingtestsupport.h"

#include "data/newdata.h"
#include "processing/valueoperators.h"

#include <cmath>
#include <cstdint>

using namespace vexa;

namespace {

using namespace std::chrono_literals;

class CommandStop : public vexa::testing::ProcessingFixture {
protected:
    void SetUp() override
    {
        ProcessingFixture::SetUp();
        host.onClose = [](WindowHandle w) { dataDelete(dataFindByWindow(w)); };
    }

    // The command's dialog is validated after suspending its task: the work then
    // waits at its first check.
    void answerAndSuspend(std::function<void(ParamBox&)> edit = {})
    {
        answer([this, edit](ParamBox& box) {
            if (edit)
                edit(box);
            EXPECT_TRUE(taskSuspend(workerSequence()));
        });
    }

    bool suspendedWith(const std::vector<DataRecord*>& inputs, std::size_t outputCount)
    {
        return pumpUntil([&] {
            return taskRunState(workerSequence()) == TaskRunState::Suspended
                && outputs(inputs).size() == outputCount;
        });
    }

    // Stops the only worker task; true when it ended within a second.
    bool stopWorker()
    {
        auto asked = std::chrono::steady_clock::now();
        EXPECT_TRUE(taskStop(workerSequence()));
        bool ended = waitForWorkers();
        host.processPending();
        return ended && std::chrono::steady_clock::now() - asked < 1s;
    }

    int messages() const { return host.count(GuiRequest::MessageBox); }

    // Answers of the new volume's dialog: sizes, format position, content.
    static void newVolume(ParamBox& box, int side, int content)
    {
        std::vector<std::int32_t*> bound;
        for (ParamItem& item : box.items)
            if (item.kind != PARAM_TITLE && item.kind != PARAM_NEWLINE)
                bound.push_back(static_cast<std::int32_t*>(item.value));
        ASSERT_EQ(bound.size(), 5u);
        *bound[0] = *bound[1] = *bound[2] = side;
        *bound[3] = 0;
        *bound[4] = content;
    }
};

TEST_F(CommandStop, StoppedVolumeOperatorLeavesNoOutputAndReleasesItsInput)
{
    DataRecord* in = volume(8, 8, 6, TYPEDATA_U8);
    answerAndSuspend();
    ASSERT_TRUE(processing::runProcessingCommand(1176, nullptr));
    // The result volume is shown while it is computed.
    ASSERT_TRUE(suspendedWith({ in }, 1));
    EXPECT_TRUE(stopWorker());
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(in->busyCount, 0);
    EXPECT_EQ(messages(), 0);
}

TEST_F(CommandStop, ResumedVolumeOperatorFinishesEverySlice)
{
    DataRecord* in = volume(3, 2, 5, TYPEDATA_F64);
    fill<double>(in, [](int x, int y, int z) { return x + 3 * y + 6 * z; });
    answerAndSuspend();
    ASSERT_TRUE(processing::runProcessingCommand(1176, nullptr));
    ASSERT_TRUE(suspendedWith({ in }, 1));
    EXPECT_TRUE(taskResume(workerSequence()));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    for (int z = 0; z < 5; ++z)
        EXPECT_DOUBLE_EQ(at<double>(out[0], 2, 1, z), std::sqrt(2.0 + 3 + 6 * z)) << z;
}

TEST_F(CommandStop, StoppedImageOperatorOpensNothing)
{
    DataRecord* in = image<std::uint8_t>(4, 3, TYPEDATA_U8, std::vector<std::uint8_t>(12, 3));
    answerAndSuspend([](ParamBox& box) { setItem(box, 0, 2.0); });
    ASSERT_TRUE(processing::runProcessingCommand(1110, nullptr));
    ASSERT_TRUE(suspendedWith({ in }, 0));
    EXPECT_TRUE(stopWorker());
    EXPECT_TRUE(outputs({ in }).empty());
    EXPECT_EQ(in->busyCount, 0);
}

TEST_F(CommandStop, ResumedIntegrationMatchesTheWholeImageKernel)
{
    // Taller than one band of rows: the running sum must carry across bands.
    const int w = 1024, h = 1030;
    std::vector<double> values(std::size_t(w) * h);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = double(i % 7) - 3;
    std::vector<double> integrated(values.size());
    processing::unaryKernel(values.data(), integrated.data(), w, h, processing::UNARY_INTEGRATE, 0);

    DataRecord* in = image<double>(w, h, TYPEDATA_F64, values);
    ASSERT_TRUE(processing::runProcessingCommand(1100 + processing::UNARY_INTEGRATE, nullptr));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    auto out = outputs({ in });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(samplesOf<double>(out[0]), integrated);
}

TEST_F(CommandStop, StoppedNewVolumeNeverAppears)
{
    answerAndSuspend([](ParamBox& box) { newVolume(box, 64, NEWDATA_RANDOM); });
    processing::runNewImage3dTask(63);
    ASSERT_TRUE(suspendedWith({}, 0));
    EXPECT_TRUE(stopWorker());
    EXPECT_TRUE(dataListAll().empty());
    EXPECT_EQ(messages(), 0);
}

TEST_F(CommandStop, ResumedNewVolumeHoldsItsGeneratedSamples)
{
    answerAndSuspend([](ParamBox& box) { newVolume(box, 2, NEWDATA_MAXIMUM); });
    processing::runNewImage3dTask(63);
    ASSERT_TRUE(suspendedWith({}, 0));
    EXPECT_TRUE(taskResume(workerSequence()));
    ASSERT_TRUE(waitForWorkers());
    host.processPending();
    auto out = outputs({});
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(out[0]->block());
    const std::uint8_t expected[] = { 0, 1, 1, 1, 1, 1, 1, 1 };
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(at<std::uint8_t>(out[0], i % 2, i / 2 % 2, i / 4), expected[i]) << i;
}

} // namespace
