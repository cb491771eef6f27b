// Build-time generator of the version table.
//
// Reads the readable table of supported device software versions (data/versions.txt) and writes
//   - VERSION.DAT of the current kind (check record = column sums + 1), and
//   - a C++ source defining zo::BuiltInVersionRecords(), the same records in file order, for the
//     simulated devices and the tests.
// It refuses a table whose addresses the write frames cannot reach, with a message naming the
// line, so a bad table fails the build instead of producing a file that misbehaves on a device.
//
// Table format: '#' starts a comment. A record is "version <number>", then the other 46 items as
// Name=Value (each exactly once, in any order, over any number of lines), then "end". Values are
// decimal or $hexadecimal integers, -1 for what the version lacks; option descriptors may also be
// written A.<bit> (flag byte A, setting 24) or B.<bit> (flag byte B, setting 25).
//
// Usage: versiondat TABLE VERSION_DAT_OUT CPP_OUT
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "adapter/TextTool.h"
#include "settings/AtomicFile.h"
#include "settings/VersionFile.h"

namespace {

using TRecord = zo::TVersion::TRecord;
constexpr int ItemCount = zo::TVersion::ItemCount;

// The names of items 1 to 46 (item 0 is the number after "version").
const char* const ItemNames[ItemCount] = {
    "",
    // 1 to 7: monitor values
    "UMains", "IMains", "UInverter", "IInverter", "Udc", "UdcRipple", "Idc",
    // 8 to 25: settings
    "AbsorptionVoltage", "FloatVoltage", "ChargeCurrent", "InverterOutput", "ShoreCurrent",
    "RepeatedAbsorptionTime", "RepeatedAbsorptionInterval", "LowBatteryAlarm", "HighBatteryAlarm",
    "AbsorptionTime", "ChargeCharacteristic", "DeviceKind", "DCShutDown", "DCRestart", "Slaves",
    "PhaseMode", "FlagsA", "FlagsB",
    // 26 to 40: option descriptors
    "OptMultiPhase", "OptLeader", "OptFrequency60Hz", "OptStopAfterBulk", "OptPeakFeed",
    "OptChargerOff", "OptAlarmRelayPolarity", "OptMultiPhaseCapable", "OptWaveShapeOff",
    "OptAESOff", "OptLowRippleOff", "OptHighRippleOff", "OptStorageMode", "OptAbsorptionFromBulk",
    "OptGroundRelayOff",
    // 41 to 46: markers and limits
    "MultiPhaseRule", "MultiPhaseGroup", "PeakFeed", "ChargeCharacteristics", "StorageStage",
    "MaxChargeCurrent"};

constexpr int FirstSetting = 1, LastSetting = 25, FirstOption = 26, LastOption = 40;

struct TEntry {
  TRecord Record{};
  std::array<bool, ItemCount> Given{};
  std::array<int, ItemCount> Line{};
  int StartLine = 0;
};

std::string table_name;

[[noreturn]] void Fail(int line, const std::string& what) {
  std::cerr << table_name << ":" << line << ": error: " << what << "\n";
  std::exit(1);
}

std::string Hex(std::int32_t v) {
  std::ostringstream s;
  s << "$" << std::hex << std::uppercase << v;
  return s.str();
}

bool IsWordSetting(int n) {
  return (n >= 1 && n <= 9) || n == 15 || n == 16 || n == 20 || n == 21;
}

bool ParseValue(int item, const std::string& text, std::int32_t& value) {
  if (item >= FirstOption && item <= LastOption && text.size() >= 3 &&
      (text[0] == 'A' || text[0] == 'B') && text[1] == '.') {
    std::int32_t bit = 0;
    if (!zo::TryStrToInt(text.substr(2), bit) || bit < 0 || bit > 0xFFFF) return false;
    value = (text[0] == 'B' ? 0x10000 : 0) + bit;
    return true;
  }
  return zo::TryStrToInt(text, value);
}

int ItemNumber(const std::string& name) {
  for (int i = 1; i < ItemCount; ++i)
    if (name == ItemNames[i]) return i;
  return -1;
}

// The device address a setting occupies (with the committed page on family 17), or -1.
std::int32_t DeviceAddressOf(const TRecord& r, int n) {
  if (r[n] == -1) return -1;
  if (r[0] / 100000 == 17 && n >= 8 && n != 19) return (r[n] + 0x2100) & 0xFFFF;
  return r[n] & 0xFFFF;
}

void Validate(const TEntry& e) {
  const TRecord& r = e.Record;
  const std::string v = "version " + std::to_string(r[0]) + ": ";
  if (r[0] <= 0) Fail(e.StartLine, v + "the version number must be positive");
  const int family = r[0] / 100000;

  std::map<std::int32_t, int> used;  // device address -> setting
  for (int n = FirstSetting; n <= LastSetting; ++n) {
    const std::int32_t a = r[n];
    const int line = e.Line[n];
    const std::string what = v + ItemNames[n] + " " + Hex(a) + ": ";
    if (a == -1) continue;
    if (a < 0 || a > 0xFFFF) Fail(line, what + "an address lies in $0000 to $FFFF (or is -1)");
    if (IsWordSetting(n) && (a & 0xFF) == 0xFF)
      Fail(line, what +
                     "a word would straddle a page (its high byte goes to the next address "
                     "of the same page)");
    if (family == 17 && n >= 8) {
      // The $0B frames carry only the low address byte, and [$0B, $FF, $FF] is the commit.
      const std::int32_t top = IsWordSetting(n) ? 0xFD : 0xFE;
      if (a > top)
        Fail(line, what + "on family 17 the items of settings 8 to 25 lie within $00 to " +
                       Hex(top) + (IsWordSetting(n) ? " (a word and its high byte)" : ""));
    }
    const std::int32_t at = DeviceAddressOf(r, n);
    if (n >= 8 && n != 19 && family != 17 && at >= 0x2100)
      Fail(line, what + "settings of this family cannot be written at $2100 or above");
    const int bytes = IsWordSetting(n) ? 2 : 1;
    for (int b = 0; b < bytes; ++b) {
      const std::int32_t byte_at = (at & 0xFF00) | ((at + b) & 0xFF);
      auto [it, fresh] = used.emplace(byte_at, n);
      if (!fresh) Fail(line, what + "overlaps " + ItemNames[it->second] + " at " + Hex(byte_at));
    }
  }

  std::map<std::int32_t, int> bits;  // descriptor -> option
  for (int item = FirstOption; item <= LastOption; ++item) {
    const std::int32_t d = r[item];
    if (d == -1) continue;
    const int line = e.Line[item];
    const std::string what = v + ItemNames[item] + ": ";
    const auto byte = static_cast<std::uint32_t>(d) >> 16;
    const auto bit = static_cast<std::uint32_t>(d) & 0xFFFF;
    if (byte > 1 || bit > 7) Fail(line, what + "an option is bit 0 to 7 of flag byte A or B");
    const int flags = byte == 0 ? 24 : 25;
    if (r[flags] == -1) Fail(line, what + "its flag byte " + ItemNames[flags] + " is absent");
    auto [it, fresh] = bits.emplace(d, item);
    if (!fresh) Fail(line, what + "shares its bit with " + ItemNames[it->second]);
  }

  if (r[44] < 1 || r[44] > 3)
    Fail(e.Line[44], v + "ChargeCharacteristics is 1 to 3 (3 adds CellGuard)");
  if (r[46] < 0 || r[46] > 255)
    Fail(e.Line[46], v + "MaxChargeCurrent is a raw byte value, 0 to 255");
}

std::vector<TEntry> ReadTable(std::istream& in) {
  std::vector<TEntry> entries;
  TEntry current;
  bool open = false;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    const auto hash = text.find('#');
    if (hash != std::string::npos) text.erase(hash);
    std::istringstream words(text);
    for (std::string word; words >> word;) {
      if (word == "version") {
        if (open) Fail(line, "\"version\" inside a record (missing \"end\")");
        std::string number;
        if (!(words >> number)) Fail(line, "\"version\" needs the software version number");
        current = TEntry{};
        if (!zo::TryStrToInt(number, current.Record[0]))
          Fail(line, "bad version number \"" + number + "\"");
        current.Given[0] = true;
        current.StartLine = current.Line[0] = line;
        open = true;
      } else if (word == "end") {
        if (!open) Fail(line, "\"end\" without \"version\"");
        std::string missing;
        for (int i = 1; i < ItemCount; ++i)
          if (!current.Given[i]) missing += std::string(" ") + ItemNames[i];
        if (!missing.empty())
          Fail(line, "version " + std::to_string(current.Record[0]) + " lacks:" + missing);
        Validate(current);
        entries.push_back(current);
        open = false;
      } else {
        if (!open) Fail(line, "\"" + word + "\" outside a record");
        const auto eq = word.find('=');
        if (eq == std::string::npos) Fail(line, "expected Name=Value, found \"" + word + "\"");
        const std::string name = word.substr(0, eq);
        const int item = ItemNumber(name);
        if (item < 0) Fail(line, "unknown item \"" + name + "\"");
        if (current.Given[item]) Fail(line, "item " + name + " given twice");
        if (!ParseValue(item, word.substr(eq + 1), current.Record[item]))
          Fail(line, "bad value in \"" + word + "\"");
        current.Given[item] = true;
        current.Line[item] = line;
      }
    }
  }
  if (open) Fail(current.StartLine, "record without \"end\"");
  return entries;
}

std::string CppSource(const std::vector<TRecord>& records) {
  std::ostringstream s;
  s << "// Generated by versiondat from " << table_name << ". Do not edit.\n"
    << "#include \"data/VersionTable.h\"\n\n"
    << "namespace zo {\n\n"
    << "const std::vector<std::array<std::int32_t, 47>>& BuiltInVersionRecords() {\n"
    << "  static const std::vector<std::array<std::int32_t, 47>> records = {\n";
  for (const TRecord& r : records) {
    s << "      {{";
    for (int i = 0; i < ItemCount; ++i)
      s << (i == 0 ? "" : ", ") << r[i];
    s << "}},\n";
  }
  s << "  };\n  return records;\n}\n\n}  // namespace zo\n";
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: versiondat TABLE VERSION_DAT_OUT CPP_OUT\n";
    return 2;
  }
  table_name = argv[1];
  std::ifstream in(argv[1]);
  if (!in) Fail(0, "cannot open the table");
  std::vector<TRecord> records;
  for (const TEntry& e : ReadTable(in))
    records.push_back(e.Record);

  std::string error;
  if (!zo::AtomicWriteFile(argv[2], zo::EncodeVersionFile(records), &error)) {
    std::cerr << "versiondat: " << error << "\n";
    return 1;
  }
  if (!zo::AtomicWriteFile(argv[3], CppSource(records), &error)) {
    std::cerr << "versiondat: " << error << "\n";
    return 1;
  }
  return 0;
}
