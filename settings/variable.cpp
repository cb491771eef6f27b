#include "settings/variable.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "adapter/TextTool.h"
#include "threads/UiServices.h"

namespace zo {

bool CommitAfterWrite = true;

namespace {

constexpr std::uint8_t ReadCommand = 0x07;
constexpr std::uint8_t CommitData = 0xFF;
constexpr std::uint16_t FirstCommitAddress = 0x2100;

std::uint8_t Low(std::uint32_t v) {
  return static_cast<std::uint8_t>(v & 0xFF);
}

// Fixed-point text with `decimals` decimals and '.' as the decimal point. A value that rounds to
// zero shows no minus sign.
std::string FixedText(long double x, int decimals) {
  std::vector<char> buffer(5100);  // room for the widest extended value in fixed notation
  auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                 std::chars_format::fixed, decimals);
  if (ec != std::errc()) return "";
  std::string text(buffer.data(), end);
  if (!text.empty() && text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
    text.erase(0, 1);
  return text;
}

// The integer part of x (truncated toward zero), limited to the 64-bit range.
std::int64_t IntegerPart(long double x) {
  if (std::isnan(x)) return 0;
  const long double t = std::trunc(x);
  if (t >= 9.2e18L) return std::numeric_limits<std::int64_t>::max();
  if (t <= -9.2e18L) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(t);
}

// Rounds to the nearest integer, exact halves to the even neighbour, within the 32-bit range.
std::int32_t RoundHalfEven(long double q) {
  if (q >= 2147483647.0L) return std::numeric_limits<std::int32_t>::max();
  if (q <= -2147483648.0L) return std::numeric_limits<std::int32_t>::min();
  const long double floor_q = std::floor(q);
  const long double diff = q - floor_q;
  auto r = static_cast<std::int64_t>(floor_q);
  if (diff > 0.5L || (diff == 0.5L && (r % 2 != 0))) ++r;
  return static_cast<std::int32_t>(r);
}

void ReportBadToken(const char* token) {
  ShowMessageBox(std::string("Error interpreting: ") + token, TMsgDlgType::mtError);
}

}  // namespace

TVariable::TVariable(const std::string& Definition) {
  Parse(Definition);
  ReadFailed = true;
}

void TVariable::Parse(const std::string& Definition) {
  if (Definition.empty()) {
    Kind = KindNone;
    return;
  }

  const auto caret = Definition.find('^');
  if (caret != std::string::npos) {
    // Bit form: a bad number shows no message; the address then stays as it was.
    Kind = KindBit;
    std::int32_t bit = 0;
    if (TryStrToInt(Definition.substr(caret + 1), bit)) {
      BitNumber = static_cast<std::uint8_t>(bit);
      std::int32_t address = 0;
      if (TryStrToInt(Definition.substr(0, caret), address))
        Address = static_cast<std::uint16_t>(address);
    }
    return;
  }

  BitNumber = 0;
  Kind = KindByte;
  std::vector<char> buffer(Definition.begin(), Definition.end());
  buffer.push_back('\0');
  char* cursor = buffer.data();

  const char* address_token = NextToken(cursor);
  std::int32_t address = 0;
  if (TryStrToInt(address_token, address))
    Address = static_cast<std::uint16_t>(address);
  else
    ReportBadToken(address_token);

  for (const char* token = NextToken(cursor); *token != '\0'; token = NextToken(cursor)) {
    const char first = token[0];
    switch (first) {
      case '$':
        DisplayFormat = 'H';
        continue;
      case '%':
        DisplayFormat = 'B';
        continue;
      default:
        break;
    }
    if (first >= '0' && first <= '9') {
      DisplayFormat = first;
      continue;
    }
    long double number = 0;
    switch (first) {
      case 'B':
      case 'b':
        Kind = KindByte;
        break;
      case 'D':
      case 'd':
        DisplayFormat = 'D';
        break;
      case 'I':
      case 'i':
        Kind = KindSignedWord;
        break;
      case 'W':
      case 'w':
        Kind = KindWord;
        break;
      case 'S':
      case 's':
        if (TryStrToFloat(token + 1, number))
          Scale = number;
        else
          ReportBadToken(token);
        break;
      case 'O':
      case 'o':
        if (TryStrToFloat(token + 1, number))
          Offset = number;
        else
          ReportBadToken(token);
        break;
      default:
        ReportBadToken(token);
        break;
    }
  }
}

void TVariable::DecodeReply(const TBusFrame& Data) {
  switch (Kind) {
    case KindByte:
      Value = Data[1];
      break;
    case KindSignedWord:
      Value = static_cast<std::int16_t>(static_cast<std::uint16_t>(Data[1] | (Data[2] << 8)));
      break;
    case KindWord:
      Value = static_cast<std::uint16_t>(Data[1] | (Data[2] << 8));
      break;
    case KindBit:
      Value = (BitNumber < 8 && (Data[1] & (1u << BitNumber)) != 0) ? 1 : 0;
      break;
    default:
      break;
  }
}

long double TVariable::EngineeringValue() const {
  return static_cast<long double>(Value) * Scale + Offset;
}

std::string TVariable::AsText() const {
  if (ReadFailed) return "Error during read";
  return TextOfRaw(Value);
}

std::string TVariable::TextOfRaw(std::int32_t Raw) const {
  switch (Kind) {
    case KindByte:
    case KindSignedWord:
    case KindWord: {
      const long double e = static_cast<long double>(Raw) * Scale + Offset;
      if (DisplayFormat >= '0' && DisplayFormat <= '9') return FixedText(e, DisplayFormat - '0');
      if (DisplayFormat == 'H' || DisplayFormat == 'B') {
        const auto t = static_cast<std::uint64_t>(IntegerPart(e));
        const int bits = Kind == KindByte ? 8 : 16;
        if (DisplayFormat == 'B') {
          std::string text = "%";
          for (int i = bits - 1; i >= 0; --i)
            text += ((t >> i) & 1) != 0 ? '1' : '0';
          return text;
        }
        static const char digits[] = "0123456789ABCDEF";
        std::string hex;
        for (std::uint64_t low = t & 0xFFFF; low != 0; low >>= 4)
          hex.insert(hex.begin(), digits[low & 0xF]);
        const std::size_t width = Kind == KindByte ? 2 : 4;
        if (hex.size() < width) hex.insert(0, width - hex.size(), '0');
        return "$" + hex;
      }
      return FixedText(e, 3);
    }
    case KindBit:
      return Raw != 0 ? "1" : "0";
    default:
      return "";
  }
}

void TVariable::SetEngineeringValue(long double X) {
  switch (Kind) {
    case KindByte:
    case KindSignedWord:
    case KindWord: {
      if (Scale == 0.0L) return;
      const long double q = (X - Offset) / Scale;
      if (std::isnan(q)) return;
      Value = RoundHalfEven(q);
      break;
    }
    case KindBit:
      Value = X >= 0.5L ? 1 : 0;
      break;
    default:
      break;
  }
}

bool TVariable::ReadFrom(TBusDriver* Driver) {
  bool result = false;
  if (Kind == KindNone) {
    if (Value == 0) {
      result = true;
    } else if (Driver != nullptr) {
      Driver->SetAddress(static_cast<std::uint8_t>(Low(static_cast<std::uint32_t>(Value)) - 1));
      result = true;
    }
  } else if (Driver != nullptr) {
    TBusFrame frame{ReadCommand, Low(Address), Low(Address >> 8u), FixedDeviceAddress};
    DeviceAddress = Driver->GetAddress();
    result = Driver->Request(frame);
    if (result) DecodeReply(frame);
  }
  ReadFailed = !result;
  return result;
}

std::uint8_t TVariable::FrameDevice() const {
  return FixedDeviceAddress != 0xFF ? FixedDeviceAddress : DeviceAddress;
}

bool TVariable::WriteCommit(TBusDriver* Driver) const {
  if (Driver == nullptr) return false;
  TBusFrame commit{0x0B, CommitData, CommitData, FrameDevice()};
  return Driver->Send(commit);
}

bool TVariable::WriteTo(TBusDriver* Driver) {
  if (Kind == KindNone) return true;
  if (Driver == nullptr) return false;
  const std::uint8_t device = FrameDevice();
  const std::uint16_t a = Address;
  const bool bit = Kind == KindBit;
  std::uint8_t command;
  if (a <= 0x00FF)
    command = bit ? 0x0A : 0x08;
  else if (a <= 0x01FF)
    command = bit ? 0x0A : 0x09;
  else if (a < FirstCommitAddress)
    command = static_cast<std::uint8_t>((bit ? 0x20 : 0x10) + (a >> 8));
  else if (bit)
    return false;  // bits of the committed page cannot be written
  else
    command = 0x0B;

  const auto raw = static_cast<std::uint32_t>(Value);
  bool sent;
  if (Kind == KindByte) {
    TBusFrame frame{command, Low(a), Low(raw), device};
    sent = Driver->Send(frame);
  } else if (bit) {
    const auto data =
        static_cast<std::uint8_t>(((a >> 8) & 1) + (Value == 1 ? 0x10 : 0) + 2 * BitNumber);
    TBusFrame frame{command, Low(a), data, device};
    sent = Driver->Send(frame);
  } else {
    // The high byte goes to the next address of the same page first.
    TBusFrame high{command, Low(a + 1u), Low(raw >> 8), device};
    sent = Driver->Send(high);
    if (sent) {
      TBusFrame low{command, Low(a), Low(raw), device};
      sent = Driver->Send(low);
    }
  }
  if (sent && a >= FirstCommitAddress && CommitAfterWrite) sent = WriteCommit(Driver);
  return sent;
}

}  // namespace zo
