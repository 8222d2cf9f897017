// File-system helpers: output directories, directory listings, path parts.
#pragma once

#include <string>
#include <string_view>

#include "common/base/GrowArray.h"

// Creates every directory of path that is followed by a separator ('/' or
// '\\'), skipping leading separators. Existing directories and failures are
// ignored: they show when files cannot be created inside.
void MakeDirectoryPath(std::string_view path);

// Removes path when it is a plain file; leaves devices, pipes, links and
// directories alone. Returns whether a file was removed.
bool RemovePlainFile(const std::string& path) noexcept;

// Raises the process's soft limit of open files to its hard limit, as far as
// the system allows; a failure leaves the limit as it was.
void RaiseOpenFileLimit() noexcept;
// How many more files the process may open now: its soft limit less the
// descriptors already open.
uint64_t FreeFileDescriptors() noexcept;

// Lists the entries of one directory, "." and ".." left out, in byte order of
// their names so that a listing is the same on every system.
class CDirectoryWalker {
public:
    // Starts listing path. Returns false when it cannot be read as a directory.
    bool Start(const std::string& path);
    // Hands out the next entry; false when none is left.
    bool Next(std::string& name, bool& isDirectory);
    // The directory of the entries, ending with a separator.
    const std::string& EntryDirectory() const { return m_directory; }
    void Close();

private:
    struct TEntry {
        std::string name;
        bool isDirectory;
    };
    CGrowArray<TEntry> m_entries;
    uint64_t m_next = 0;
    std::string m_directory;
};

// The text after the last '/' or '\\' (the whole path when there is none).
std::string_view FileNamePart(std::string_view path);
// The extension of the file name part, from its last dot; empty when none.
std::string_view ExtensionPart(std::string_view path);
inline bool IsSeparator(char c) { return c == '/' || c == '\\'; }
