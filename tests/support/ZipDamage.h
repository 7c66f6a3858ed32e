#pragma once
// Damages one entry of a ZIP file on disk, as a bad disk or a bad copy would: one byte
// in the middle of its stored data is flipped, or one of its local header, which then
// no longer agrees with the central directory.

#include <zip.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace tessarin::test {

enum class TDamage {
    Data,      // the middle of the entry's data
    LocalName, // the last letter of the name in its local header
    LocalSize, // the compressed size in its local header
};

// False when the entry is not found or holds no data.
inline bool FlipByteInEntry(const std::string& archive, const std::string& name,
                            TDamage where = TDamage::Data)
{
    std::uint64_t compressed = 0;
    {
        int error = 0;
        zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
        if (za == nullptr)
            return false;
        zip_stat_t st;
        zip_stat_init(&st);
        const bool found = zip_stat(za, name.c_str(), ZIP_FL_ENC_RAW, &st) == 0;
        zip_discard(za);
        if (!found || st.comp_size == 0)
            return false;
        compressed = st.comp_size;
    }
    std::fstream file(archive, std::ios::in | std::ios::out | std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    auto u16 = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at]) |
                                        static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    // The local header names the entry; its data follows the name and the extra field.
    const std::string signature("PK\x03\x04", 4);
    for (std::size_t at = bytes.find(signature); at != std::string::npos && at + 30 < bytes.size();
         at = bytes.find(signature, at + 1)) {
        const std::size_t nameLength = u16(at + 26);
        if (nameLength != name.size() || bytes.compare(at + 30, nameLength, name) != 0)
            continue;
        const std::size_t data = at + 30 + nameLength + u16(at + 28);
        const std::size_t target = where == TDamage::LocalName   ? at + 30 + nameLength - 1
                                   : where == TDamage::LocalSize ? at + 18
                                                                 : data + compressed / 2;
        if (target >= bytes.size())
            return false;
        file.clear();
        file.seekp(static_cast<std::streamoff>(target));
        file.put(static_cast<char>(bytes[target] ^ 0x5a));
        return static_cast<bool>(file.flush());
    }
    return false;
}

// The bytes of one entry, read with libzip's flags (and password); empty when not found.
inline std::string EntryBytes(const std::string& archive, const std::string& name,
                              zip_flags_t flags, const char* password = nullptr)
{
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (za == nullptr)
        return {};
    std::string out;
    if (zip_file_t* f = zip_fopen_encrypted(za, name.c_str(), flags, password)) {
        char buf[8192];
        zip_int64_t got;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(got));
        zip_fclose(f);
    }
    zip_discard(za);
    return out;
}

// An entry's bytes as the archive stores them: deflated, and encrypted with the salt it
// was given. Two backups that share them share the very entry.
inline std::string StoredBytes(const std::string& archive, const std::string& name)
{
    return EntryBytes(archive, name, ZIP_FL_ENCRYPTED);
}

} // namespace tessarin::test
