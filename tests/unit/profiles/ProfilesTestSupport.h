#pragma once
// Shared set-up of the profile tests: a private home folder, built-in English texts,
// an injected registry, process list and launcher; and a writer of registry.dat files.

#include "config/SharedState.h"
#include "profiles/Catalogue.h"
#include "support/FakeUserInterface.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tessarin::test {

class ProfilesTest : public ::testing::Test {
protected:
    void SetUp() override { ResetInstallationTable(); }
    void TearDown() override { ResetInstallationTable(); }

    void UseRegistry(std::string_view text) { env.UseRegistry(text); }
    void UseProcesses(std::vector<std::vector<std::string>> snapshots)
    {
        env.UseProcesses(std::move(snapshots));
    }
    const IProcessList& Processes() const { return *env.Env.Processes; }
    TInstallationSource Installations() const { return MachineInstallations(env.Env); }

    // Writes a file below the home folder.
    std::filesystem::path WriteHome(const std::string& relative, std::string_view content) const
    {
        return temp.Write("home/" + relative, content);
    }

    // Copies a fixture folder of tests/data/profiles to a folder below home, with every
    // "@HOME@" in its profiles.ini replaced by the home folder (without the last '/').
    void CopyProfileFixture(const std::string& fixture, const std::string& relativeRoot) const
    {
        const std::filesystem::path target = std::filesystem::path(home) / relativeRoot;
        std::filesystem::create_directories(target.parent_path());
        CopyFixture("profiles/" + fixture, target);
        const std::filesystem::path ini = target / "profiles.ini";
        if (std::filesystem::exists(ini)) {
            std::string text = ReadFile(ini);
            const std::string homeText = home.substr(0, home.size() - 1);
            for (std::size_t pos = text.find("@HOME@"); pos != std::string::npos;
                 pos = text.find("@HOME@", pos))
                text.replace(pos, 6, homeText);
            std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
        }
    }

    TTestEnvironment env;
    const TTempDir& temp = env.Dir();
    std::string home = env.Home();
    TSharedState state{env.Env};
    TFakeUserInterface ui;
    std::shared_ptr<TRecordingLauncher> launcher = env.Launcher;
};

// Builds files in the layout of the old suite's binary registry: a header whose
// 32-bit value at offset 12 is the root node; nodes of 32 bytes (own offset, name
// offset, name length and type, next sibling, first child, first value entry, value
// length, parent), each preceded by its zero-padded name; a profile's "directory"
// entry name and folder stored between its node and its first value entry.
class TRegistryDatWriter {
public:
    TRegistryDatWriter() { data_.assign(16, '\0'); }

    std::uint32_t AddNode(const std::string& name, std::uint32_t parent = 0)
    {
        const std::uint32_t nameOffset = Append(name);
        Pad();
        const std::uint32_t node = Size();
        data_.append(32, '\0');
        Put(node + 0, node);
        Put(node + 4, nameOffset);
        Put(node + 8, static_cast<std::uint32_t>(name.size() + 1) | 0x00010000u);
        Put(node + 28, parent);
        return node;
    }

    // A profile node with its "directory" value; returns the node's offset.
    std::uint32_t AddProfile(const std::string& name, const std::string& folder,
                             std::uint32_t parent)
    {
        const std::uint32_t node = AddNode(name, parent);
        const std::uint32_t entryName = Append("directory");
        const std::uint32_t entryData = Append(folder);
        Pad();
        const std::uint32_t entry = Size();
        data_.append(32, '\0');
        Put(entry + 0, entry);
        Put(entry + 4, entryName);
        Put(entry + 8, 10u | 0x00110000u);
        Put(entry + 20, entryData);
        Put(entry + 24, static_cast<std::uint32_t>(folder.size() + 1));
        Put(entry + 28, node);
        Put(node + 20, entry);
        return node;
    }

    void Put(std::uint32_t offset, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            data_[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    void SetRoot(std::uint32_t node) { Put(12, node); }
    void SetSibling(std::uint32_t node, std::uint32_t sibling) { Put(node + 12, sibling); }
    void SetChild(std::uint32_t node, std::uint32_t child) { Put(node + 16, child); }
    void SetFirstValue(std::uint32_t node, std::uint32_t entry) { Put(node + 20, entry); }

    const std::string& Data() const { return data_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(data_.size()); }

    // A whole registry as the old suite kept it: root, "Version Registry", "Users" with
    // "Common" below it, and the profiles as children of "Common".
    static TRegistryDatWriter
    Suite(const std::vector<std::pair<std::string, std::string>>& profiles,
          std::vector<std::uint32_t>* profileNodes = nullptr)
    {
        TRegistryDatWriter w;
        const std::uint32_t root = w.AddNode("/");
        const std::uint32_t versions = w.AddNode("Version Registry", root);
        const std::uint32_t users = w.AddNode("Users", root);
        const std::uint32_t common = w.AddNode("Common", users);
        w.SetRoot(root);
        w.SetChild(root, versions);
        w.SetSibling(versions, users);
        w.SetChild(users, common);
        std::uint32_t previous = 0;
        for (const auto& [name, folder] : profiles) {
            const std::uint32_t node = w.AddProfile(name, folder, common);
            if (previous == 0)
                w.SetChild(common, node);
            else
                w.SetSibling(previous, node);
            previous = node;
            if (profileNodes != nullptr)
                profileNodes->push_back(node);
        }
        return w;
    }

private:
    std::uint32_t Append(const std::string& text)
    {
        const std::uint32_t offset = Size();
        data_ += text;
        data_ += '\0';
        return offset;
    }
    void Pad()
    {
        while (data_.size() % 4 != 0)
            data_ += '\0';
    }

    std::string data_;
};

} // namespace tessarin::test
