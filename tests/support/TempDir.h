// A temporary folder that is removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace orvane::test {

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return FPath; }
    /// The folder as the system keeps folders: ending with a separator.
    std::string Folder() const { return FPath.string() + "/"; }
    /// Full path of `name` inside the folder.
    std::string File(std::string_view name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

/// Writes `bytes` to `path`, replacing it.
void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);

}  // namespace orvane::test
