#include "processing/companioncommand.h"

#include "data/block.h"
#include "data/companions.h"
#include "data/registry.h"
#include "host/host.h"
#include "log/logmodel.h"
#include "tasks/taskapi.h"
#include "tasks/taskcontext.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <shared_mutex>

namespace vexa::processing {

void runCompanionBuild(const std::string& caption)
{
    const unsigned int in = vexaImageGetIn();
    if (!in)
        return;
    auto refuse = [&caption](const std::string& text) { hostMessageBox(caption, text); };
    DataRecord* record = dataFindImage(in);
    BlockDescriptor* block = record ? record->block() : nullptr;
    if (!block || block->dimZ < 2) {
        refuse("Les fichiers compagnons se créent pour une image 3D, pas pour une image 2D");
        return;
    }
    if (block->storage != STORAGE_FILE) {
        refuse("Le bloc est en mémoire : les fichiers compagnons se créent pour un bloc lu dans "
               "un fichier");
        return;
    }

    constexpr int kSteps = 1000;
    dozTaskSetIntervalProgress(nullptr, 0, kSteps);
    CompanionHooks hooks;
    hooks.progress = [](int done, int total) {
        dozTaskSetProgress(nullptr, int(std::int64_t(done) * kSteps / total));
    };
    hooks.stopRequested = [] { return taskStopRequested(); };
    const auto start = std::chrono::steady_clock::now();
    std::string reason;
    const CompanionBuild result = buildCompanions(*block, hooks, &reason);
    if (result == CompanionBuild::Stopped)
        return;
    if (result == CompanionBuild::Failed) {
        refuse(reason.empty() ? "Création des fichiers compagnons impossible" : reason);
        return;
    }
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string name;
    {
        std::shared_lock lock(block->lock);
        name = std::filesystem::path(block->fileName).filename().string();
    }
    char line[512];
    std::snprintf(
        line, sizeof line, "Fichiers compagnons de %s créés en %.1f s", name.c_str(), seconds);
    log::logPost(line);
}

} // namespace vexa::processing
