// Temporary folders and environment overrides for the tests. Folders are made under
// $TMPDIR (default /tmp), as the program itself does, so a run with TMPDIR pointing
// at a private or nearly full disk exercises the same place.
#pragma once

#include <string>

namespace vexatest {

// $TMPDIR without a trailing '/', or "/tmp" when it is unset or empty.
std::string tempRoot();

// A fresh folder <tempRoot()>/<prefix>-XXXXXX, removed with its contents on
// destruction, even where a test took away the owner's rights on it. Failing to make
// it fails the current test; path() is then empty and file() names nothing that can
// be written.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "vexa-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Sets (or, with a null value, removes) an environment variable for a scope, and
// puts the previous value, or its absence, back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string saved_;
    bool hadValue_ = false;
};

} // namespace vexatest
