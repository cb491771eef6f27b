// VERSION.DAT: the binary table of supported device software versions beside the program.
//
// Records of 188 bytes (47 signed 32-bit integers, little-endian), no header: first the check
// record K, then the version records V1..Vk. With D[j] = K[j] - (V1[j] + ... + Vk[j]) (wrapping):
// every D[j] = 1 is the current kind; every D[j] = 0 an older kind (converted in place once);
// anything else, no record at all, or a partial record at the end is a corrupted file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/Files.h"  // ExecutableFolder

#include "settings/Settings.h"

namespace zo {

constexpr std::size_t VersionRecordBytes = 4 * TVersion::ItemCount;
// A larger file is taken for a corrupted one rather than read into memory (some 100000 versions).
constexpr std::size_t MaxVersionFileBytes = VersionRecordBytes * 100000;

// The texts InitSettings hands back.
extern const char* const CannotFindVersionFileText;
extern const char* const VersionFileCorruptedText;
extern const char* const VersionFileUpdateFailedText;
// The information box after a successful conversion.
extern const char* const VersionFileUpdatedText;

// The check record of the current kind for `Records`: column sums + 1, wrapping.
TVersion::TRecord VersionCheckRecord(const std::vector<TVersion::TRecord>& Records);

// The bytes of a current-kind VERSION.DAT listing `Records` in this order.
std::string EncodeVersionFile(const std::vector<TVersion::TRecord>& Records);

// The file in `Folder` that InitSettings reads: VERSION.DAT, else version.dat when only that
// exists (the VERSION.DAT path when neither does).
std::string VersionFilePath(const std::string& Folder);

// Reads the file at `Path` into VersionList, converting an older kind in place (the converted file
// replaces the old one in one step; when it cannot, the old file stays as it was). Waits 10 ms
// first. ErrorText: empty, or one of the fatal texts above. CurrentVersion is none afterwards.
void ReadVersionFile(const std::string& Path, std::string& ErrorText);

}  // namespace zo
