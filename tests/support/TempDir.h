#pragma once
// A private temporary folder for one test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h>

namespace tessarin::test {

class TTempDir {
public:
    TTempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "tessarin-test-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TTempDir()
    {
        std::error_code ec;
        // Tests may have made folders read-only; give permissions back before removing.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // Folder text ending in the separator, as the core's folder fields are.
    std::string Folder() const { return path_.string() + "/"; }

    std::filesystem::path Write(const std::string& relative, std::string_view content) const
    {
        const auto p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// tests/data, and the shipped data files. A test re-run as another user reads copies
// that user can enter (the checkout may lie in a folder only its owner can).
inline std::filesystem::path TestDataDir()
{
    const char* copy = std::getenv("TESSARIN_TEST_DATA_COPY");
    return copy != nullptr && *copy != '\0' ? copy : TESSARIN_TEST_DATA;
}
inline std::filesystem::path ShippedDataDir()
{
    const char* copy = std::getenv("TESSARIN_SHIPPED_DATA_COPY");
    return copy != nullptr && *copy != '\0' ? std::filesystem::path(copy)
                                            : std::filesystem::path(TESSARIN_SOURCE_DIR) / "data";
}

// Copies a fixture folder of tests/data into a temporary place before a test changes it.
inline void CopyFixture(const std::string& relative, const std::filesystem::path& to)
{
    std::filesystem::copy(TestDataDir() / relative, to,
                          std::filesystem::copy_options::recursive);
}

} // namespace tessarin::test
