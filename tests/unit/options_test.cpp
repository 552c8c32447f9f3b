// The command line: defaults, the service's options, the simulator's
// options and the errors that end the program before it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "tests/support/temp_dir.h"

namespace vesk::testing {
namespace {

struct Parsed {
  int result;
  app::ServiceOptions options;
};

Parsed Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "vesk");
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  Parsed parsed{0, {}};
  parsed.result = app::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &parsed.options);
  return parsed;
}

TEST(OptionsTest, DefaultsServeTheStandardPortWithAnEmptyRegistry) {
  const Parsed parsed = Parse({});
  EXPECT_EQ(parsed.result, -1);
  EXPECT_EQ(parsed.options.port, 22300);
  EXPECT_TRUE(parsed.options.registryFile.empty());
  EXPECT_TRUE(parsed.options.settingsFile.empty());
  EXPECT_FALSE(parsed.options.replySendTimeoutMs.has_value());
  EXPECT_FALSE(parsed.options.logManager);
  EXPECT_FALSE(parsed.options.simulator.AnyGiven());
}

TEST(OptionsTest, ServiceOptionsAndTheLastOfARepeatedOneWin) {
  TempDir directory;
  const std::string registry = directory.Write("r.reg", "REGEDIT4\n");
  const Parsed parsed = Parse({"--port", "22301", "--registry", registry, "--settings-file", "/tmp/s.ini",
                               "--reply-send-timeout-ms", "250", "--log-manager", "--port", "22302"});
  ASSERT_EQ(parsed.result, -1);
  EXPECT_EQ(parsed.options.port, 22302);
  EXPECT_EQ(parsed.options.registryFile, registry);
  EXPECT_EQ(parsed.options.settingsFile, "/tmp/s.ini");
  EXPECT_EQ(parsed.options.replySendTimeoutMs, 250u);
  EXPECT_TRUE(parsed.options.logManager);
}

TEST(OptionsTest, SimulatorOptionsAreCollected) {
  const Parsed parsed = Parse({"--instrument-type", "12", "--time-scale", "0.5", "--seed", "99", "--refuse",
                               "SetMagAbs", "--refuse", "GetHT", "--pin", "GetMag=1000", "--pin", "Empty=",
                               "--image-folder", "/tmp/images"});
  ASSERT_EQ(parsed.result, -1);
  const app::SimulatorOptions& simulator = parsed.options.simulator;
  EXPECT_TRUE(simulator.AnyGiven());
  EXPECT_EQ(simulator.instrumentType, 12);
  EXPECT_EQ(simulator.timeScale, 0.5);
  EXPECT_EQ(simulator.seed, 99u);
  EXPECT_EQ(simulator.refusedOperations, (std::vector<std::string>{"SetMagAbs", "GetHT"}));
  EXPECT_EQ(simulator.pins, (std::vector<std::pair<std::string, std::string>>{{"GetMag", "1000"}, {"Empty", ""}}));
  EXPECT_EQ(simulator.imageFolder, "/tmp/images");
}

TEST(OptionsTest, BadArgumentsEndTheProgramWithAnError) {
  const std::vector<std::vector<std::string>> bad = {
      {"--port", "0"},          {"--port", "70000"},       {"--port", "x"},
      {"--registry", "/no/such/file.reg"},                 {"--time-scale", "-1"},
      {"--pin", "NoEquals"},    {"--pin", "=1"},           {"--reply-send-timeout-ms", "-1"},
      {"--unknown"},            {"stray"},
  };
  for (const std::vector<std::string>& arguments : bad) {
    EXPECT_GT(Parse(arguments).result, 0) << arguments[0];
  }
  EXPECT_EQ(Parse({"--help"}).result, 0);
  EXPECT_EQ(Parse({"--time-scale", "0"}).result, -1);  // everything at once is allowed
}

}  // namespace
}  // namespace vesk::testing
