#include "common/streams/FileSystem.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

void MakeDirectoryPath(std::string_view path)
{
    size_t i = 0;
    while (i < path.size() && IsSeparator(path[i]))
        ++i;
    for (; i < path.size(); ++i) {
        if (IsSeparator(path[i]))
            ::mkdir(std::string(path.substr(0, i)).c_str(), 0777);
    }
}

bool RemovePlainFile(const std::string& path) noexcept
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0;
}

void RaiseOpenFileLimit() noexcept
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

uint64_t FreeFileDescriptors() noexcept
{
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    // Counting beyond this many descriptors cannot change what a pass does.
    constexpr uint64_t kCountedLimit = 1 << 16;
    const uint64_t soft = limit.rlim_cur == RLIM_INFINITY ? ~uint64_t(0) : uint64_t(limit.rlim_cur);
    const int probed = int(std::min(soft, kCountedLimit));
    uint64_t open = 0;
    for (int fd = 0; fd < probed; ++fd)
        open += ::fcntl(fd, F_GETFD) != -1;
    return soft - open;
}

bool CDirectoryWalker::Start(const std::string& path)
{
    Close();
    m_directory = path;
    if (m_directory.empty() || !IsSeparator(m_directory.back()))
        m_directory += '/';
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat st;
            std::string full = m_directory + std::string(name);
            isDirectory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        m_entries.PushBack(TEntry{std::string(name), isDirectory});
    }
    ::closedir(dir);
    std::sort(m_entries.begin(), m_entries.end(),
              [](const TEntry& a, const TEntry& b) { return a.name < b.name; });
    return true;
}

bool CDirectoryWalker::Next(std::string& name, bool& isDirectory)
{
    if (m_next >= m_entries.Count())
        return false;
    name = m_entries[m_next].name;
    isDirectory = m_entries[m_next].isDirectory;
    ++m_next;
    return true;
}

void CDirectoryWalker::Close()
{
    m_entries.Free();
    m_next = 0;
    m_directory.clear();
}

std::string_view FileNamePart(std::string_view path)
{
    size_t i = path.size();
    while (i > 0 && !IsSeparator(path[i - 1]))
        --i;
    return path.substr(i);
}

std::string_view ExtensionPart(std::string_view path)
{
    std::string_view name = FileNamePart(path);
    size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot);
}
