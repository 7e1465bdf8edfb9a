// A small per-user store of string values, addressed like the registry: a key
// path ("Software\\Maker\\Product\\", backslash-separated, a trailing backslash
// allowed) and a value name. Values and names are Windows-1252 text.
//
// Windows: the registry under HKEY_CURRENT_USER (REG_SZ values).
// POSIX: files under $XDG_CONFIG_HOME/tarvion/ (else ~/.config/tarvion/). Each
// key path is a directory path there, one directory per key (characters a file
// name cannot carry well are written %XX); the key's values are the lines of its
// file "@values", "name=value" in UTF-8 with \\, \= and \xHH escapes. A write
// replaces that file atomically (temporary file, fsync, rename, fsync of the
// folder) under a lock, so a crash at any instant leaves the old or the new
// contents, never a mix; leftovers of a crashed write are removed by the next one.
#pragma once

#include <string>

namespace tarvion::platform {

// False when the key or the value does not exist or cannot be read.
bool readKeyValue(const std::string& keyPath, const std::string& valueName, std::string& value);
// Creates the key when needed; false when the value could not be stored.
bool writeKeyValue(const std::string& keyPath, const std::string& valueName, const std::string& value);

#ifndef _WIN32
// Where the POSIX store keeps a key's values (for tools and tests).
std::string keyValueFile(const std::string& keyPath);

namespace testing {
// Runs between the fsync of the new contents and the rename that publishes
// them: a test makes the process die there to prove the old value survives.
void setKeyStoreBeforeRenameHook(void (*hook)());
}  // namespace testing
#endif

}  // namespace tarvion::platform
