// The support tools of zocfg end to end: settings as text, diff and decode, against zo-sim.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/cli/ZocfgFixture.h"

namespace zo::test {
namespace {

TEST_F(ZocfgEndToEnd, ReadTextIsAcceptedByWriteAndABadLineSendsNothing) {
  SimProcess sim(folder_, {"--device", "1711104"});
  const std::string text = folder_.File("van.txt");
  RunResult r = Zocfg(folder_, {"read", "--port", sim.Path(), "--text", text});
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::string data = ReadFile(text);
  for (const char* part :
       {"Device type = Corvane Multi 230Vac 24H\n", "Software version = 1711104\n",
        "Absorption voltage = 28.80 V\n", "Charger = on\n"})
    EXPECT_TRUE(Contains(data, part)) << part << "\n" << data;

  data.replace(data.find("28.80 V"), 7, "29.60 V");
  WriteFile(text, data);
  r = Zocfg(folder_, {"write", "--port", sim.Path(), text, "--dry-run"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "Changes:\n  Absorption voltage: 28.80 V -> 29.60 V\nDry run: nothing was sent.\n");

  WriteFile(text, data + "Float voltage = 27.6 A\n");
  r = Zocfg(folder_, {"write", "--port", sim.Path(), text});
  EXPECT_EQ(r.Status, 3) << r.Err;
  EXPECT_TRUE(Contains(r.Err, "line ")) << r.Err;
  EXPECT_EQ(sim.Stop().count("frames 0B"), 0u);
}

}  // namespace
}  // namespace zo::test
