#include "settings/VersionFile.h"

#include <climits>
#include <cstdint>

#include "platform/Files.h"
#include "settings/AtomicFile.h"
#include "threads/Sema.h"
#include "threads/UiServices.h"

namespace zo {

const char* const CannotFindVersionFileText = "Fatal error:\rCannot find VERSION.DAT file!";
const char* const VersionFileCorruptedText = "Fatal error:\rVERSION.DAT file corrupted!";
const char* const VersionFileUpdateFailedText =
    "Fatal error:\rFound old type of VERSION.DAT file.\rUpdate failed!\r\rVisit Tarnelo website to "
    "download latest VERSION.DAT file.";
const char* const VersionFileUpdatedText =
    "Found old type of VERSION.DAT file.\rUpdated succesfully.";

namespace {

enum class TFileKind { Current, Older, Corrupted, Unreadable };

std::int32_t GetInt32(const std::string& data, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = (v << 8) | static_cast<std::uint8_t>(data[offset + static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(v);
}

void PutInt32(std::string& data, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i)
    data += static_cast<char>((v >> (8 * i)) & 0xFF);
}

TVersion::TRecord GetRecord(const std::string& data, std::size_t index) {
  TVersion::TRecord record{};
  for (int j = 0; j < TVersion::ItemCount; ++j)
    record[static_cast<std::size_t>(j)] =
        GetInt32(data, index * VersionRecordBytes + 4 * static_cast<std::size_t>(j));
  return record;
}

std::string EncodeRecord(const TVersion::TRecord& record) {
  std::string data;
  data.reserve(VersionRecordBytes);
  for (std::int32_t item : record)
    PutInt32(data, item);
  return data;
}

std::int32_t WrapAdd(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t WrapSub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// One reading pass: fills VersionList from the file's bytes and classifies the file. `Data` keeps
// the bytes read.
TFileKind ReadPass(const std::string& path, std::string& data) {
  VersionList.clear();
  const TReadResult read = ReadWholeFile(path, MaxVersionFileBytes, data);
  if (read == TReadResult::CannotOpen) return TFileKind::Unreadable;
  if (read == TReadResult::TooLarge) return TFileKind::Corrupted;
  const std::size_t records = data.size() / VersionRecordBytes;
  if (records == 0) return TFileKind::Corrupted;

  TVersion::TRecord difference = GetRecord(data, 0);
  for (std::size_t r = 1; r < records; ++r) {
    const TVersion::TRecord record = GetRecord(data, r);
    for (std::size_t j = 0; j < record.size(); ++j)
      difference[j] = WrapSub(difference[j], record[j]);
    VersionList.push_back(std::make_unique<TVersion>(record));
  }
  // A partial record at the end: the file is damaged, whatever its check record says.
  if (data.size() % VersionRecordBytes != 0) return TFileKind::Corrupted;

  int not_one = 0, not_zero = 0;
  for (std::int32_t d : difference) {
    if (d != 1) ++not_one;
    if (d != 0) ++not_zero;
  }
  if (not_one == 0) return TFileKind::Current;
  if (not_zero == 0) return TFileKind::Older;
  return TFileKind::Corrupted;
}

// Writes the file with its check record raised by 1 in every item, replacing the old file in one
// step. A failure leaves the old file; the next pass then finds it unchanged.
void ConvertOlderFile(const std::string& path, const std::string& data) {
  TVersion::TRecord check = GetRecord(data, 0);
  for (std::int32_t& item : check)
    item = WrapAdd(item, 1);
  AtomicWriteFile(path, EncodeRecord(check) + data.substr(VersionRecordBytes));
}

}  // namespace

TVersion::TRecord VersionCheckRecord(const std::vector<TVersion::TRecord>& Records) {
  TVersion::TRecord check;
  check.fill(1);
  for (const auto& record : Records)
    for (std::size_t j = 0; j < check.size(); ++j)
      check[j] = WrapAdd(check[j], record[j]);
  return check;
}

std::string EncodeVersionFile(const std::vector<TVersion::TRecord>& Records) {
  std::string data = EncodeRecord(VersionCheckRecord(Records));
  for (const auto& record : Records)
    data += EncodeRecord(record);
  return data;
}

std::string VersionFilePath(const std::string& Folder) {
  const std::string base = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  const std::string upper = base + "VERSION.DAT";
  const std::string lower = base + "version.dat";
  std::error_code error;
  if (!std::filesystem::exists(PathOf(upper), error) &&
      std::filesystem::exists(PathOf(lower), error))
    return lower;
  return upper;
}

void ReadVersionFile(const std::string& Path, std::string& ErrorText) {
  ErrorText.clear();
  Delay(10);
  std::string data;
  TFileKind kind = ReadPass(Path, data);
  if (kind == TFileKind::Unreadable) {
    ErrorText = CannotFindVersionFileText;
  } else if (kind == TFileKind::Older) {
    ConvertOlderFile(Path, data);
    kind = ReadPass(Path, data);
    if (kind == TFileKind::Current)
      Ui().MessageDlg(VersionFileUpdatedText, TMsgDlgType::mtInformation, mbOK);
    else
      ErrorText = VersionFileUpdateFailedText;
  } else if (kind != TFileKind::Current) {
    ErrorText = VersionFileCorruptedText;
  }
  CurrentVersion = nullptr;
}

}  // namespace zo
