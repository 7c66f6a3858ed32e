#pragma once
// The per-user key/value store that stands in for HKEY_CURRENT_USER: remembered
// folders live here. Keys and value names are those the Windows program used.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tessarin {

class IKeyStore {
public:
    virtual ~IKeyStore() = default;
    virtual std::optional<std::string> ReadString(const std::string& key,
                                                  const std::string& valueName) const = 0;
    // False when the value could not be stored; the earlier value then stays.
    virtual bool WriteString(const std::string& key, const std::string& valueName,
                             const std::string& data) = 0;
};

// Values in an INI file (section = key), rewritten atomically on every write.
class TIniKeyStore : public IKeyStore {
public:
    explicit TIniKeyStore(std::filesystem::path file);
    std::optional<std::string> ReadString(const std::string& key,
                                          const std::string& valueName) const override;
    bool WriteString(const std::string& key, const std::string& valueName,
                     const std::string& data) override;
    const std::filesystem::path& File() const { return file_; }

private:
    std::filesystem::path file_;
};

class TMemoryKeyStore : public IKeyStore {
public:
    std::optional<std::string> ReadString(const std::string& key,
                                          const std::string& valueName) const override;
    bool WriteString(const std::string& key, const std::string& valueName,
                     const std::string& data) override;

private:
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

} // namespace tessarin
