// The generator of VERSION.DAT: the real table converts into the file the programs read, and a
// table whose addresses the write frames cannot reach fails with a message naming its line.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/settings/SettingsTestSupport.h"

namespace zo::test {
namespace {

struct ToolRun {
  int ExitCode;
  std::string Output;
};

ToolRun RunTool(const std::string& table, const std::string& dat, const std::string& cpp) {
  std::string command = "'" ZO_VERSIONDAT "'";
  for (const std::string* argument : {&table, &dat, &cpp})
    command += " '" + *argument + "'";
  command += " 2>&1";
  ToolRun run{-1, ""};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
    run.Output += buffer;
  const int status = pclose(pipe);
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string ReplaceFirst(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(VersionTableTool, TheRealTableGivesTheProgramsFile) {
  TempFolder folder;
  const ToolRun run = RunTool(ZO_VERSION_TABLE, folder.File("V.DAT"), folder.File("t.cpp"));
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const std::string dat = ReadBytes(folder.File("V.DAT"));
  EXPECT_EQ(dat, EncodeVersionFile(BuiltInRecords()));
  EXPECT_EQ(dat, ReadBytes(ExecutableFolder() + "/VERSION.DAT"));
  EXPECT_NE(ReadBytes(folder.File("t.cpp")).find("BuiltInVersionRecords"), std::string::npos);
}

TEST(VersionTableTool, RefusesTablesTheFramesCannotServe) {
  const std::string table = ReadBytes(ZO_VERSION_TABLE);
  ASSERT_FALSE(table.empty());
  const std::string first17 = "FloatVoltage=$12";  // in the first record, family 17
  struct Case {
    std::string Table;
    std::string Expected;
  } cases[] = {
      {ReplaceFirst(table, first17, "FloatVoltage=$FE"), "within $00 to $FD"},
      {ReplaceFirst(table, "FlagsA=$30", "FlagsA=$FF"), "within $00 to $FE"},
      {ReplaceFirst(table, "Idc=$018C", "Idc=$01FF"), "straddle a page"},
      {ReplaceFirst(table, first17, "FloatVoltage=$11"), "overlaps AbsorptionVoltage"},
      {ReplaceFirst(table, "DCShutDown=$2010", "DCShutDown=$2110"), "$2100 or above"},
      {ReplaceFirst(table, "OptLeader=A.1", "OptLeader=A.0"), "shares its bit"},
      {ReplaceFirst(table, "OptLeader=A.1", "OptLeader=A.8"), "bit 0 to 7"},
      {ReplaceFirst(table, "FlagsB=$31", "FlagsB=-1"), "flag byte FlagsB is absent"},
      {ReplaceFirst(table, "MaxChargeCurrent=70", "MaxChargeCurrent=300"), "0 to 255"},
      {ReplaceFirst(table, "ChargeCharacteristics=3", "ChargeCharacteristics=4"), "1 to 3"},
      {ReplaceFirst(table, "UMains=$0180", "UMains=$10000"), "$0000 to $FFFF"},
      {ReplaceFirst(table, "UMains=$0180", "UMain=$0180"), "unknown item \"UMain\""},
      {ReplaceFirst(table, "UMains=$0180", ""), "lacks: UMains"},
      {ReplaceFirst(table, "UMains=$0180", "UMains=$0180 UMains=$0180"), "given twice"},
      {ReplaceFirst(table, "UMains=$0180", "UMains=12v"), "bad value"},
      {ReplaceFirst(table, "\nend", "\n"), "\"version\" inside a record"},
      {table + "\nversion 1400099 UMains=$0090\n", "record without \"end\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expected);
    TempFolder folder;
    WriteBytes(folder.File("table.txt"), c.Table);
    const ToolRun run =
        RunTool(folder.File("table.txt"), folder.File("V.DAT"), folder.File("t.cpp"));
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(": error: "), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(c.Expected), std::string::npos) << run.Output;
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"table.txt"});  // nothing written
  }
}

}  // namespace
}  // namespace zo::test
