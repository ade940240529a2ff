#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace vexatest {

namespace {

// Gives the owner back every right on dir and the folders below it, so that a test
// that took some away to provoke a failure does not leave its folder behind.
void allowRemoval(const std::filesystem::path& dir)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code statError;
        if (fs::is_directory(it->symlink_status(statError)))
            allowRemoval(it->path());
    }
}

} // namespace

std::string tempRoot()
{
    const char* dir = std::getenv("TMPDIR");
    std::string root = dir && *dir ? dir : "/tmp";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

TempDir::TempDir(const std::string& prefix)
{
    std::string pattern = tempRoot() + "/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()))
        path_ = name.data();
    else
        ADD_FAILURE() << "cannot make a temporary folder " << pattern << ": "
                      << std::strerror(errno);
}

TempDir::~TempDir()
{
    if (path_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    if (ec) {
        allowRemoval(path_);
        std::filesystem::remove_all(path_, ec);
    }
}

std::string TempDir::file(const std::string& name) const
{
    // Without a folder, a bare "/name" would point at the root of the file system.
    if (path_.empty())
        return {};
    return path_ + "/" + name;
}

ScopedEnv::ScopedEnv(const char* name, const char* value)
    : name_(name)
{
    if (const char* old = std::getenv(name)) {
        saved_ = old;
        hadValue_ = true;
    }
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (hadValue_)
        ::setenv(name_.c_str(), saved_.c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

} // namespace vexatest
