// Companion files of a file block: the same volume stored cut along the other two
// axes, so that TOP and RIGHT sections read as contiguous FRONT planes instead of
// gathering one row or one sample from every plane of the file.
//
// The x-z companion (companionNames().first) holds in its FRONT plane y the TOP
// section y of the block; the y-z companion (second) holds in its FRONT plane k the
// RIGHT section dimX - 1 - k.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vexa {

struct BlockDescriptor;

struct CompanionHooks {
    // After each slab: slabs done out of total.
    std::function<void(int done, int total)> progress;
    // Asked before each slab; true stops the build.
    std::function<bool()> stopRequested;
};

enum class CompanionBuild { Done, Stopped, Failed };

// Memory the build may hold for its slabs (read and transposed copy together).
constexpr std::int64_t kCompanionBudgetBytes = std::int64_t(256) << 20;

// Writes both companions of a file block beside its file, with the file's header kind,
// sample type and storage order, reading the block in slabs of whole rows (columns
// for a transposed file) within budgetBytes. Each companion is written under a
// temporary name and takes its own only once both are complete; the block then reads
// its sections through them. Stopped or Failed leave no temporary behind and attach
// nothing; Failed says why in reason (French). Refused: a memory block, a file that
// is not GDR or INRIA or is stored in cubes, a name without the companion pattern
// (or one that is itself a companion's), a companion in use by another open datum.
// A write to the block during the build makes it fail rather than attach stale copies.
CompanionBuild buildCompanions(BlockDescriptor& block, const CompanionHooks& hooks,
    std::string* reason = nullptr, std::int64_t budgetBytes = kCompanionBudgetBytes);

} // namespace vexa
