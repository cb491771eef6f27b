// One quantity held in the device: a byte, a signed or unsigned 16-bit word, or one bit of a
// byte, at a 16-bit device address, built from a definition string such as "$FFFF W,S0.01,2"
// (address $FFFF, unsigned word, 0.01 units per raw step, shown with 2 decimals).
//
// Definition grammar: an empty text gives kind 5 (no device data). "address^bit" is one bit of
// the byte at the address. Otherwise the first token (tokens are separated by runs of TAB, space
// and comma) is the address and every further token is recognised by its first character, upper
// or lower case alike: '$' hexadecimal display, '%' binary display, a digit: that many decimals,
// 'D' 3 decimals, 'B' byte, 'I' signed word, 'W' unsigned word, 'S' scale and 'O' offset (each
// followed by a real number). A token that does not convert shows the error box
// "Error interpreting: " + token; the other tokens still apply.
//
// No locks: the bus thread reads the monitor quantities while the user-interface thread waits for
// it (see Settings.h); every other use is on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "drivers/ExtendedBusdrv.h"

namespace zo {

// When False, a write to an address of $2100 or above sends no commit frame. Only WriteSettings
// changes it (it holds the commit back until the last setting). Initially True.
extern bool CommitAfterWrite;

class TVariable {
 public:
  // Kinds of quantity.
  static constexpr std::uint8_t KindByte = 1;
  static constexpr std::uint8_t KindSignedWord = 2;
  static constexpr std::uint8_t KindWord = 3;
  static constexpr std::uint8_t KindBit = 4;
  static constexpr std::uint8_t KindNone = 5;

  // Address $FFFF, both device-address bytes $FF, Value 0, DisplayFormat 'D', Scale 1, Offset 0,
  // then Parse(Definition); ReadFailed is True afterwards.
  explicit TVariable(const std::string& Definition);
  virtual ~TVariable() = default;
  TVariable(const TVariable&) = delete;
  TVariable& operator=(const TVariable&) = delete;

  // Interprets a definition string (grammar above). Bad tokens show an error box and are skipped.
  void Parse(const std::string& Definition);

  // Takes Value from the data bytes (1 and 2) of a reply frame according to Kind.
  void DecodeReply(const TBusFrame& Data);

  // The display text: "Error during read" after a failed read; else by Kind and DisplayFormat
  // (fixed-point with '.' whatever the locale, "$" hexadecimal, "%" binary); "0"/"1" for a bit;
  // empty for kind 5.
  std::string AsText() const;

  // The display text that raw value `Raw` would have, in this quantity's scale and format,
  // whatever the last read gave (bounds, defaults and steps are shown this way).
  std::string TextOfRaw(std::int32_t Raw) const;

  // The engineering value Value x Scale + Offset (80-bit extended arithmetic).
  long double EngineeringValue() const;

  // Sets Value from an engineering value: kinds 1 to 3 snap to the nearest raw step (exact halves
  // to the even neighbour, results limited to the 32-bit range); a bit is 1 from 0.5 on. Nothing
  // changes for kind 5, for a scale of 0, or for a value that is not a number.
  void SetEngineeringValue(long double X);

  // One read: Request [$07, address low, address high, FixedDeviceAddress] (up to 500 ms for the
  // reply); on success Value comes from the reply. Kind 5 only selects device address Value - 1
  // on the driver (when Value <> 0). ReadFailed := not result. A null driver fails (kind 5 too,
  // when it would need the driver).
  virtual bool ReadFrom(TBusDriver* Driver);

  // One to three write frames (each Send waits up to 500 ms): the data frame(s) for the address
  // page and kind, then the commit frame for addresses of $2100 and above while CommitAfterWrite.
  // True when every frame was sent; stops at the first failure. Kind 5 sends nothing (True); a bit
  // at $2100 or above cannot be written (False, nothing sent).
  virtual bool WriteTo(TBusDriver* Driver);

  // Sends the commit frame [$0B, $FF, $FF, device byte] that applies the writes the device holds
  // for page $21 (Send waits up to 500 ms). True when it was sent.
  bool WriteCommit(TBusDriver* Driver) const;

  std::uint16_t Address = 0xFFFF;          // $FFFF: the quantity is not present (see TSetting)
  std::uint8_t DeviceAddress = 0xFF;       // the driver's default address at the last read
  std::uint8_t FixedDeviceAddress = 0xFF;  // device byte for every frame; $FF: none
  std::int32_t Value = 0;                  // raw value
  char DisplayFormat = 'D';                // 'D', '0' to '9', 'H' or 'B'
  std::uint8_t Kind = KindNone;
  std::uint8_t BitNumber = 0;
  long double Scale = 1.0L;   // engineering units per raw unit
  long double Offset = 0.0L;  // engineering value at raw value 0
  bool ReadFailed = true;

 private:
  // The device byte of write frames: FixedDeviceAddress, else the default at the last read.
  std::uint8_t FrameDevice() const;
};

}  // namespace zo
