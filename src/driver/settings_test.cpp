#include "driver/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace quilbo {
namespace {

struct LeadingCase {
  const char* text;
  std::int32_t expected;
};

TEST(ParseLeadingNumber, TakesTheNumberBeforeTheFirstRejectedCharacter) {
  const LeadingCase cases[] = {
      {"1000", 1000},        {"1000kb", 1000},     {"", 0},
      {"k", 0},              {"-5", -5},           {" 12", 12},
      {"$10", 16},           {"$400", 1024},       {"12 34", 12},
      {"1e3", 1},            {"0x10", 0},          {"2147483648", 214748364},
      {"99999999999", 999999999}, {"-2147483648", -214748364},
      {"$FFFFFFFF", -1},     {"$123456789", 0x12345678},
  };
  for (const LeadingCase& c : cases)
    EXPECT_EQ(ParseLeadingNumber(c.text), c.expected) << "text: '" << c.text << "'";
}

struct OptionCase {
  const char* argument;
  bool deletes;
  std::int32_t truncateKb;
  const char* archiveDir;
};

TEST(ApplyOption, RecognisesDeleteTruncateAndFolderName) {
  const OptionCase cases[] = {
      {"/D", true, 0, "Archive"},       {"/d", true, 0, "Archive"},
      {"/Dx", false, 0, "/Dx"},         {"-d", false, 0, "-d"},
      {"/D ", false, 0, "/D "},         {"/t1000kb", false, 1000, "Archive"},
      {"/T$400", false, 1024, "Archive"}, {"/t", false, 0, "Archive"},
      {"/tx", false, 0, "Archive"},     {"/T0", false, 0, "Archive"},
      {"/T-5", false, -5, "Archive"},   {"/?", false, 0, "/?"},
      {"Backup", false, 0, "Backup"},   {"x/T5", false, 0, "x/T5"},
  };
  for (const OptionCase& c : cases) {
    RunSettings settings;
    const ArgumentRole role = ApplyOption(settings, c.argument);
    EXPECT_EQ(settings.DeleteOriginals, c.deletes) << c.argument;
    EXPECT_EQ(settings.TruncateKb, c.truncateKb) << c.argument;
    EXPECT_EQ(settings.ArchiveDir, c.archiveDir) << c.argument;
    // The role says which of the three the argument set, even when the
    // value it set equals the default (/T0, a folder named Archive).
    const ArgumentRole expected = c.deletes ? ArgumentRole::kDelete
                                  : settings.ArchiveDir != "Archive"
                                      ? ArgumentRole::kFolder
                                      : ArgumentRole::kTruncate;
    EXPECT_EQ(role, expected) << c.argument;
  }
  RunSettings settings;
  EXPECT_EQ(ApplyOption(settings, "Archive"), ArgumentRole::kFolder);
}

// Linux: a second '/' makes a folder name of what would read as an option
// (absolute folders such as /tmp/arch); Windows keeps reading options.
TEST(ApplyOption, SecondSlashMakesAFolderOnLinux) {
  const OptionCase linuxCases[] = {
      {"/tmp/arch", false, 0, "/tmp/arch"}, {"/t/x", false, 0, "/t/x"},
      {"/T5/", false, 0, "/T5/"},           {"/d/", false, 0, "/d/"},
      {"/D/x", false, 0, "/D/x"},           {"//", false, 0, "//"},
      {"/tmp", false, 0, "Archive"},        {"/T5", false, 5, "Archive"},
      {"/d", true, 0, "Archive"},           {"a/b/c", false, 0, "a/b/c"},
  };
  const OptionCase windowsCases[] = {
      {"/tmp/arch", false, 0, "Archive"},   {"/t/x", false, 0, "Archive"},
      {"/T5/", false, 5, "Archive"},        {"/d/", false, 0, "/d/"},
      {"/tmp", false, 0, "Archive"},        {"/T5", false, 5, "Archive"},
  };
#ifdef _WIN32
  const auto& cases = windowsCases;
  (void)linuxCases;
#else
  const auto& cases = linuxCases;
  (void)windowsCases;
#endif
  for (const OptionCase& c : cases) {
    RunSettings settings;
    ApplyOption(settings, c.argument);
    EXPECT_EQ(settings.DeleteOriginals, c.deletes) << c.argument;
    EXPECT_EQ(settings.TruncateKb, c.truncateKb) << c.argument;
    EXPECT_EQ(settings.ArchiveDir, c.archiveDir) << c.argument;
  }
}

TEST(ApplyOption, LaterArgumentsReplaceEarlierOnes) {
  RunSettings settings;
  for (const char* argument : {"one", "/T5", "two", "/t7", "/d"})
    ApplyOption(settings, argument);
  EXPECT_EQ(settings.ArchiveDir, "two");
  EXPECT_EQ(settings.TruncateKb, 7);
  EXPECT_TRUE(settings.DeleteOriginals);
}

TEST(ApplyOption, TruncationDigitsAfterTwoHundredFiftyTwoCharactersAreIgnored) {
  // Only 250 characters after "/T" are read; an argument holds 255 at most.
  std::string argument = "/T" + std::string(252, '0') + "7";
  RunSettings settings;
  ApplyOption(settings, argument);
  EXPECT_EQ(settings.TruncateKb, 0);
}

}  // namespace
}  // namespace quilbo
