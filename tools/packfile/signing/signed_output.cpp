#include "tools/packfile/signing/signed_output.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "bytes/file_bytes.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"

using std::to_string;

namespace {

bool ReadFacts(const std::string& path, std::uint64_t packageEnd, CPeImage* image, std::uint32_t* sum,
               std::string* error) {
  CFileSource file(path);
  std::string why;
  if (!file.IsOpen()) {
    *error = "cannot open the signed file: " + file.OpenError();
    return false;
  }
  if (!ReadPeImage(file, image, &why)) {
    *error = "the signed file is no PE image: " + why;
    return false;
  }
  CPeDataDirectory table = PeDirectory(*image, kPeSecurityDirectory);
  if (table.virtualAddress != packageEnd || std::uint64_t{table.virtualAddress} + table.size != file.Size()) {
    *error = "the signer put the certificate table at " + to_string(table.virtualAddress) + " (" +
             to_string(table.size) + " bytes) in a file of " + to_string(file.Size()) +
             " bytes, not directly after the stub header at " + to_string(packageEnd);
    return false;
  }
  if (!ComputePeChecksum(file, image->checkSumOffset, sum)) {
    *error = "cannot read the signed file to sum it";
    return false;
  }
  return true;
}

}  // namespace

bool CheckSignedOutput(const std::string& path, std::uint64_t packageEnd, bool* fixedCheckSum, std::string* error) {
  *fixedCheckSum = false;
  CPeImage image;
  std::uint32_t sum = 0;
  if (!ReadFacts(path, packageEnd, &image, &sum, error)) return false;
  if (sum == image.checkSum) return true;
  errno = 0;
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(image.checkSumOffset));
  file.write(reinterpret_cast<const char*>(&sum), sizeof(sum));
  file.close();
  if (file.fail()) {
    *error = std::string("cannot rewrite the CheckSum of the signed file: ") +
             (errno != 0 ? std::strerror(errno) : "write failed");
    return false;
  }
  *fixedCheckSum = true;
  return true;
}
