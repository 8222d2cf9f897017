// Shared fixtures: temporary directories, whole files, captured output.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace test {

// A fresh temporary directory, removed with its contents; Path() ends in '/'.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(std::string_view name) const { return m_path + std::string(name); }

private:
    std::string m_path;
};

void WriteFile(const std::string& path, std::string_view bytes);
// The whole file; fails the current test when it cannot be read.
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// Runs body and returns what it printed on standard output (puts, printf).
std::string CaptureStdout(const std::function<void()>& body);

// Path of a file in the shared real-data directory.
std::string DataFile(std::string_view name);

}  // namespace test
