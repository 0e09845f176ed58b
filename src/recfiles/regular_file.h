// Reading a whole file that must be a regular file, for the settings reader and the record
// loader: a folder would read as empty, a FIFO could block for ever and a device never end.
#pragma once

#include <string>

namespace quillmere {

// Reads all of `path` into `*data`. The open does not block, so a FIFO without a writer is
// refused at once like every other file that is not a regular file. False with `*error`:
// "it is a folder, not a file", "it is not a regular file", or the system's text ("No such
// file or directory", "Permission denied"); `*data` is then unspecified.
bool ReadRegularFile(const std::string& path, std::string* data, std::string* error);

}  // namespace quillmere
