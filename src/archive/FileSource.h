#pragma once
// The archive file itself, as libzip reads and writes it. libzip's own file source
// reads and writes through stdio in pieces of a few kilobytes, seeking before each
// read, and renames its temporary file into place without syncing it. This one reads
// and writes in large pieces, starts writing back to disk while the archive is still
// being written, so that the sync at the end has little left to wait for, and syncs
// the temporary file before it takes the archive's place: a crash never leaves a
// backup that is named but not on disk. The file is its owner's alone.

#include <zip.h>

#include <string>

namespace tessarin {

// A source for zip_open_from_source; nullptr (error set) when out of memory. A path
// that does not exist reads as a missing archive, which ZIP_CREATE starts anew.
zip_source_t* NewArchiveFileSource(const std::string& path, zip_error_t* error);

// zip_open on our source: the same flags and error codes.
zip_t* OpenArchiveFile(const std::string& path, int flags, int* errorCode);

} // namespace tessarin
