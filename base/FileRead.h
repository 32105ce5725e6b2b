// Reading whole files from disk.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

namespace velmora {

// Reads a whole regular file of at most maxBytes bytes. False with a message ("Permission
// denied", "not a regular file", "larger than N bytes", ...) in `error` when it cannot be opened
// or read; never blocks on a pipe or device.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// The same for a descriptor the caller has opened (and perhaps locked); it stays open.
bool ReadFileBytes(int fd, std::string& bytes, std::string& error,
                   std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// True when something that is not a directory exists at `path` (links followed).
bool FileExists(const std::string& path);

}  // namespace velmora
