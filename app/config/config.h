// The configuration file: a small XML document that the workstation only reads. Every
// query opens, parses and releases it again, so an edit takes effect at the next query.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexa::config {

// The settings the workstation knows; any other key has no values.
enum ConfigKey : int {
    PATH_STUDY = 0, // "PATHS,STUDY" / "PATH": study directories
    LOAD_LIBRARY = 1, // "LIBRARY" / "PATH": plug-ins loaded at start-up
    WINDOWS_MANAGEMENT
    = 2, // "WINDOWS" / "MANAGEMENT": "MULTIPLE" frees dialogs from the main window
    WINDOWS_CORRECTION = 3, // "WINDOWS" / "CORRECTION": recognised, unused
    AUTO_RANGE = 4, // "DISPLAY" / "AUTO_RANGE": "0", "NON" or "OFF" keeps new windows at gain 1
    FILE_BLOCK_SHARE = 5 // "MEMORY" / "FILE_BLOCK_SHARE": see fileBlockShare
};

struct KeyLocation {
    const char* nodePath; // node names separated by commas, walked from the root
    const char* item;
};

// Node path and item of a key; nothing for an unknown key.
std::optional<KeyLocation> keyLocation(int key);

// Name of the configuration file in the program's directory.
inline constexpr const char* kConfigFileName = "vexa.xml";

// Files larger than this are not configuration files and are treated as unreadable.
inline constexpr long long kMaxConfigBytes = 16LL * 1024 * 1024;

// "vexa.xml" in the directory of the running executable.
std::string defaultConfigPath();

// Replaces the configuration path with a copy of path; null leaves it unchanged.
void setConfigPath(const char* path);
std::string configPath();

// Number of values of a key: 0 when the file cannot be read, the key is unknown or
// nothing matches.
int configCountValues(int key);

// The index-th value (0-based, document order); nothing when index is not below the
// count or the item has no value.
std::optional<std::string> configValue(int key, int index);

// Every value of a key from one reading of the file.
std::vector<std::string> configValues(int key);

// True when dialogs get no owner window: WINDOWS_MANAGEMENT is exactly "MULTIPLE".
bool dialogsWithoutOwner();

// True unless AUTO_RANGE says "0", "NON", "OFF" or "FALSE" (any case): a new image
// window whose values do not fit 0..255 then starts with a correction that shows them.
bool autoRangeEnabled();

// Share of the available memory above which a large volume of another program's
// format is kept in a file rather than read into memory: FILE_BLOCK_SHARE as a
// fraction ("0.25") or a percentage ("25%") in (0, 1]; 0.25 when absent or invalid.
double fileBlockShare();

// Command line handling, on the text after the program name.

// Joins the arguments after the program name with single blanks.
std::string joinCommandLine(int argc, const char* const* argv);

// "-config <path>": the text after the first blank following "-config" up to the next
// blank becomes the configuration path when it is not empty; the command line is cut
// at the blank that ends the path. Returns true when the path was replaced.
bool applyConfigOption(std::string& commandLine);

// "-in <file>": the whole rest after "-in " when it is not empty.
std::optional<std::string> dataFileArgument(const std::string& commandLine);

} // namespace vexa::config
