#include "platform/IniFile.h"

#include <gtest/gtest.h>

using tessarin::TIniFile;

TEST(IniFile, NamesCompareWithoutCaseAndFirstMatchWins)
{
    const auto ini = TIniFile::FromText("[General]\nKey=one\nkey=two\n[general]\nKEY=three\n");
    EXPECT_EQ(ini.ReadString("GENERAL", "kEy"), "one");
    EXPECT_EQ(ini.ReadString("general", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("nosuch", "key"), "");
}
