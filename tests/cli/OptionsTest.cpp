// The command line of zocfg: what is accepted, what is a usage error, and where --port leads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Options.h"

namespace zo {
namespace {

bool Parse(const std::vector<const char*>& Args, TOptions& O, std::string& Error) {
  return ParseOptions(static_cast<int>(Args.size()), Args.data(), O, Error);
}

TEST(CliOptions, OptionsStandBeforeOrAfterTheCommandInEitherForm) {
  TOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"--trace=t.txt", "write", "f.zsf", "--port", "/dev/pts/3", "--dry-run",
                     "--timeout", "1.5", "--yes"},
                    o, error))
      << error;
  EXPECT_EQ(o.Command, TCommand::Write);
  EXPECT_EQ(o.File, "f.zsf");
  EXPECT_EQ(o.Port, "/dev/pts/3");
  EXPECT_EQ(o.Trace, "t.txt");
  EXPECT_TRUE(o.DryRun);
  EXPECT_TRUE(o.Yes);
  EXPECT_EQ(o.TimeoutMs, 1500);

  ASSERT_TRUE(Parse({"monitor", "--count=3", "--json", "--port=$0C"}, o, error)) << error;
  EXPECT_EQ(o.Count, 3);
  EXPECT_TRUE(o.Json);
  ASSERT_TRUE(Parse({"versions"}, o, error)) << error;  // the one command without a port

  // A command's own option before the command, and a value that reads like a command.
  ASSERT_TRUE(Parse({"--out=x.zsf", "--trace", "read", "read", "--port", "1"}, o, error)) << error;
  EXPECT_EQ(o.Command, TCommand::Read);
  EXPECT_EQ(o.Out, "x.zsf");
  EXPECT_EQ(o.Trace, "read");
  ASSERT_TRUE(Parse({"monitor", "--port", "1", "--csv", "-"}, o, error)) << error;
  EXPECT_EQ(o.Csv, "-");
}

TEST(CliOptions, UsageErrorsAreNamed) {
  const struct {
    std::vector<const char*> Args;
    const char* Error;
  } cases[] = {
      {{}, "no command given"},
      {{"erase"}, "unknown command \"erase\""},
      {{"read", "--port"}, "--port needs a value"},
      {{"read", "--port", "1", "--verbose"}, "unknown option --verbose"},
      {{"read", "--port", "1", "--json=yes"}, "--json takes no value"},
      {{"detect", "--port", "1", "--out", "x.zsf"}, "detect takes no --out"},
      {{"versions", "--port", "1"}, "versions takes no --port"},
      {{"read", "--port", "1", "extra"}, "unexpected argument \"extra\""},
      {{"write", "--port", "1"}, "write needs the settings file to send"},
      {{"monitor", "--port", "1", "--count", "-2"}, "--count needs a whole number"},
      {{"read", "--port", "1", "--timeout", "soon"}, "--timeout needs a number of seconds"},
      {{"read", "--port", "1", "--timeout=3601"}, "--timeout needs a number of seconds"},
      {{"--port", "1", "read", "--port=2"}, "--port is given more than once"},
      {{"write", "--dry-run", "f.zsf", "--port", "1", "--dry-run"}, "--dry-run is given more"},
      {{"--out", "x.zsf", "detect", "--port", "1"}, "detect takes no --out"},
      {{"read", "--bogus", "--help"}, "unknown option --bogus"},
      {{"read"}, "read needs --port"},
      {{"diff", "a.zsf"}, "diff compares two sides"},
      {{"diff", "--port", "1", "a.zsf", "b.zsf"}, "diff compares two sides"},
      {{"diff", "a.zsf", "--defaults", "--version", "x"}, "--version needs a software version"},
      {{"decode"}, "decode needs the trace file"},
      {{"decode", "t.txt", "--port", "1"}, "decode takes no --port"},
      {{"check-port", "--port", "1"}, "check-port needs --loopback"},
      {{"ports", "--port", "1"}, "ports takes no --port"},
  };
  for (const auto& c : cases) {
    TOptions o;
    std::string error;
    EXPECT_FALSE(Parse(c.Args, o, error)) << c.Error;
    EXPECT_EQ(error.find(c.Error), 0u) << error;
  }
}

TEST(CliOptions, HelpWinsOverMissingOptions) {
  TOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"write", "--help"}, o, error)) << error;
  EXPECT_TRUE(o.Help);
  EXPECT_EQ(o.Command, TCommand::Write);
  // Wrong values and options of other commands count for nothing beside --help.
  ASSERT_TRUE(Parse({"monitor", "--count", "0", "--out", "x", "--help"}, o, error)) << error;
  EXPECT_EQ(o.Command, TCommand::Monitor);
  ASSERT_TRUE(Parse({"help", "monitor"}, o, error)) << error;
  EXPECT_EQ(o.Command, TCommand::Monitor);
  EXPECT_NE(HelpText(TCommand::Monitor).find("Usage: zocfg monitor"), std::string::npos);
  EXPECT_NE(HelpText(TCommand::None).find("update-firmware"), std::string::npos);
  // Each command's help lists the options it takes, and only those.
  EXPECT_NE(HelpText(TCommand::Read).find("\n  --out FILE.zsf    also save"), std::string::npos);
  EXPECT_NE(HelpText(TCommand::Read).find("\n  --port P"), std::string::npos);
  EXPECT_EQ(HelpText(TCommand::Versions).find("--port"), std::string::npos);
}

TEST(CliOptions, PortIsANumberByTheTypedNumberRuleOrAPath) {
  TPortTarget t;
  std::string error;
  ASSERT_TRUE(ParsePort(" 12", t, error));
  EXPECT_EQ(t.Number, 12);
  ASSERT_TRUE(ParsePort("$FF", t, error));
  EXPECT_EQ(t.Number, 255);
  ASSERT_TRUE(ParsePort("/dev/ttyUSB0", t, error));
  EXPECT_EQ(t.Number, 0);
  EXPECT_EQ(t.Path, "/dev/ttyUSB0");
  ASSERT_TRUE(ParsePort("./pty", t, error));

  EXPECT_FALSE(ParsePort("0", t, error));
  EXPECT_FALSE(ParsePort("256", t, error));
  EXPECT_EQ(error, "COM port number 256 is out of range (1 to 255)");
  EXPECT_FALSE(ParsePort("COM3", t, error));
  EXPECT_EQ(error, "Cannot interpret \"COM3\" as a COM port number!");
}

}  // namespace
}  // namespace zo
