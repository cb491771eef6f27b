// The one form of a live-value recording, written by the window's chart and by zocfg monitor:
//
//   time,seconds,UMains (V),IMains (A),UInverter (V),IInverter (A),Udc (V),Udc ripple (V),Idc
//   (A),device 2026-12-09T11:15:03.250+01:00,0.950,232,5.5,230,4.3,27.10,0.05,12.3,Corvane Multi
//   230Vac 24H (1711107) on COM1
//
// One row per polling cycle: the local time with milliseconds and its offset from UTC (ISO 8601),
// the seconds since the recording's history began, then each value as the status panel shows it
// (a plain number with a dot), or an empty field where the value could not be read, and last the
// device the values came from (empty while none is shown; quoted as CSV quotes a field when it
// holds a comma or a quote), so that a recording never mixes two devices unseen. Every row is
// flushed as it is written, so a recording survives a crash or a pulled cable up to its last
// row. A failed write (a full disk, a closed pipe) is reported and ends the recording; the rows
// written before it stay, and a row written only in part is taken back from a file, which then
// ends with the last whole row.
#pragma once

#include <cstdio>
#include <string>

#include "connection/LiveHistory.h"

namespace zo {

class TLiveCsvWriter {
 public:
  TLiveCsvWriter() = default;
  ~TLiveCsvWriter();
  TLiveCsvWriter(const TLiveCsvWriter&) = delete;
  TLiveCsvWriter& operator=(const TLiveCsvWriter&) = delete;

  // Creates (or empties) the file at `Path` and writes the header; "-" writes to standard output.
  // False with Error() set ("Cannot create file: <path> (<reason>)") when it cannot.
  bool Open(const std::string& Path);
  // Writes the header to a stream the caller owns (and closes). What the stream holds is flushed
  // first; the rows then go straight to its file, so the caller writes nothing else to it.
  bool Attach(std::FILE* Out);

  // Writes one row of `History` straight to the file. False with Error() set once a write failed
  // ("Cannot write file: <path> (<reason>)"; "standard output" for "-"); a row cut short is then
  // removed again where the file is a regular file. Every later call fails at once.
  bool Write(const TLiveRow& Row, const TLiveHistory& History);
  // Closes the file (not an attached stream). False with Error() set when closing failed.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::string& Path() const { return path_; }

  // The header line and one row as text (with the line end).
  static std::string HeaderText();
  static std::string RowText(const TLiveRow& Row, const TLiveHistory& History);

 private:
  bool Put(const std::string& Text);

  int fd_ = -1;  // the file's descriptor; -1 when none is open
  bool owned_ = false;
  std::string path_;
  std::string error_;
};

}  // namespace zo
