// Table files as every command reads and writes them.
#pragma once

#include <optional>
#include <string>

#include "core/config/image.h"
#include "core/config/tablefilelock.h"

namespace qm730::cli {

// Loads a table file that must be exactly one image long: 40,959 bytes, no
// more and no less. Returns an exit status (after printing why) when it
// cannot be used; the image is then unchanged.
std::optional<int> loadWholeTableFile(const std::string& path, ConfigImage& image);

// Saves the image; returns an exit status after printing why it failed.
std::optional<int> saveWholeTableFile(const std::string& path, const ConfigImage& image);

// Takes the lock that makes writers of one table file take turns, to be held
// from before the file is read until it is written; waits for another
// writer up to a few seconds. Returns an exit status (after printing that
// the file is in use) when the other writer does not finish in time.
std::optional<int> lockTableFile(const std::string& path, TableFileLock& lock);

// Tells before any long work that the file cannot be written: the folder is
// missing or not writable, the name is a folder, a device or too long.
std::optional<int> checkTableFileTarget(const std::string& path);

}  // namespace qm730::cli
