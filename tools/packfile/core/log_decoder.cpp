#include "tools/packfile/core/log_decoder.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "format/log_vocabulary.h"
#include "format/reading_rules.h"
#include "format/signature_answers.h"
#include "tools/packfile/core/cp1252.h"

namespace {

// UTF-16LE to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string FromUtf16Le(const std::string& bytes) {
  std::string out;
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    std::uint32_t unit = static_cast<std::uint8_t>(bytes[k]) | (static_cast<std::uint8_t>(bytes[k + 1]) << 8);
    if (unit >= 0xD800 && unit < 0xDC00 && k + 3 < bytes.size()) {
      std::uint32_t low = static_cast<std::uint8_t>(bytes[k + 2]) | (static_cast<std::uint8_t>(bytes[k + 3]) << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
        k += 2;
        continue;
      }
    }
    AppendUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, &out);
  }
  return out;
}

bool StartsWith(const std::string& text, const std::string& prefix, std::string* rest) {
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  *rest = text.substr(prefix.size());
  return true;
}

// The length of a word of the log, without its terminating zero.
template <std::size_t N>
constexpr std::size_t Length(const char (&)[N]) {
  return N - 1;
}

std::int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// The launcher's file error sentences (its string resources, cause 1 to 14),
// each with the place of the name it is about.
const char* const kSentences[] = {
    UNPACK_LOG_SENTENCE_GENERIC,
    UNPACK_LOG_SENTENCE_FILE_NOT_FOUND,
    UNPACK_LOG_SENTENCE_BAD_PATH,
    UNPACK_LOG_SENTENCE_TOO_MANY_OPEN_FILES,
    UNPACK_LOG_SENTENCE_ACCESS_DENIED,
    UNPACK_LOG_SENTENCE_INVALID_FILE,
    UNPACK_LOG_SENTENCE_REMOVE_CURRENT_DIR,
    UNPACK_LOG_SENTENCE_DIRECTORY_FULL,
    UNPACK_LOG_SENTENCE_BAD_SEEK,
    UNPACK_LOG_SENTENCE_HARD_IO,
    UNPACK_LOG_SENTENCE_SHARING_VIOLATION,
    UNPACK_LOG_SENTENCE_LOCK_VIOLATION,
    UNPACK_LOG_SENTENCE_DISK_FULL,
    UNPACK_LOG_SENTENCE_END_OF_FILE,
};

std::string SentencePath(const std::string& message) {
  for (const char* sentence : kSentences) {
    std::string words = sentence;
    std::string::size_type place = words.find(UNPACK_LOG_NAME_PLACE);
    std::string before = words.substr(0, place), after = words.substr(place + Length(UNPACK_LOG_NAME_PLACE));
    if (message.size() > before.size() + after.size() && message.compare(0, before.size(), before) == 0 &&
        message.compare(message.size() - after.size(), after.size(), after) == 0) {
      return message.substr(before.size(), message.size() - before.size() - after.size());
    }
  }
  return "";
}

// The system errors a launcher's file error lines carry, in words.
const struct {
  std::int64_t code;
  const char* name;
  const char* words;
} kSystemErrors[] = {
    {0, "ERROR_SUCCESS", "no error"},
    {2, "ERROR_FILE_NOT_FOUND", "not found"},
    {3, "ERROR_PATH_NOT_FOUND", "its folder does not exist"},
    {5, "ERROR_ACCESS_DENIED", "access denied"},
    {32, "ERROR_SHARING_VIOLATION", "another process holds it open"},
    {33, "ERROR_LOCK_VIOLATION", "another process has locked part of it"},
    {39, "ERROR_HANDLE_DISK_FULL", "the disk is full"},
    {80, "ERROR_FILE_EXISTS", "something is already there"},
    {112, "ERROR_DISK_FULL", "the disk is full"},
    {123, "ERROR_INVALID_NAME", "not a valid name"},
    {145, "ERROR_DIR_NOT_EMPTY", "the folder is not empty"},
    {183, "ERROR_ALREADY_EXISTS", "something is already there"},
    {206, "ERROR_FILENAME_EXCED_RANGE", "the path is too long"},
    {267, "ERROR_DIRECTORY", "not a folder"},
    {1155, "ERROR_NO_ASSOCIATION", "no program is associated with this kind of file"},
    {1920, "ERROR_CANT_ACCESS_FILE", "the system cannot open it (a link it will not follow)"},
};

std::string ErrorName(std::int64_t value) {
  for (const auto& known : kSystemErrors) {
    if (known.code == value) return known.name;
  }
  const char* answer = SignatureAnswerName(static_cast<std::uint32_t>(value));
  return answer != nullptr ? answer : "error " + std::to_string(value);
}

std::string ErrorWords(std::int64_t value, std::int32_t signSize) {
  char number[32];
  std::snprintf(number, sizeof(number), value < 0 ? "0x%08llX" : "%lld",
                static_cast<long long>(value < 0 ? static_cast<std::uint32_t>(value) : value));
  for (const auto& known : kSystemErrors) {
    if (known.code == value) return std::string(known.name) + " (" + number + "): " + known.words;
  }
  auto answer = static_cast<std::uint32_t>(value);
  if (const char* name = SignatureAnswerName(answer)) {
    return std::string(name) + " (" + number + "): " +
           (SignatureAnswerRefuses(answer, signSize) || answer == kCryptFileError
                ? "the signature check's answer that refuses the image"
                : "the signature check's answer on trust, which refuses nothing");
  }
  return std::string("system error ") + number;
}

// Windows compares names without regard to case.
bool SameWindowsName(const char* a, const char* b, std::size_t length) {
  for (std::size_t k = 0; k < length; ++k) {
    if (NameUpper(NameUnit(a[k])) != NameUpper(NameUnit(b[k]))) return false;
  }
  return true;
}

bool SameWindowsPath(const std::string& a, const std::string& b) {
  return a.size() == b.size() && SameWindowsName(a.data(), b.data(), a.size());
}

// "unpack" or "unpack.XXXXXXXX", the names a launcher gives its work directory.
bool IsWorkDirectoryName(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  std::string name = path.substr(path.find_last_of("\\/") == std::string::npos ? 0 : path.find_last_of("\\/") + 1);
  constexpr char kWorkDir[] = UNPACK_WORK_DIR_NAME;
  constexpr std::size_t length = sizeof(kWorkDir) - 1;
  return name.size() >= length && (name.size() == length || name[length] == '.') &&
         SameWindowsName(name.data(), kWorkDir, length);
}

// What a file error line stands for, by the name it is about, its Err value
// and where in the run it comes.
void Classify(const CLogRun& run, CFileError* error) {
  auto answer = static_cast<std::uint32_t>(error->lastError);
  auto signSize = static_cast<std::int32_t>(run.certificateSize);
  // A file being written, or the launcher's own image (which the locator failed to open), is no program.
  bool expected = (!run.expected.empty() && SameWindowsPath(error->path, run.expected.back())) ||
                  SameWindowsPath(error->path, run.executable);
  const char* name = SignatureAnswerName(answer);
  std::string named = error->lastError < 0 && name != nullptr ? std::string(" (") + name + ")" : "";
  // Only the launcher's check of its own signature logs such answers.
  if (error->lastError < 0 && answer == kCryptFileError) {
    error->kind = FileErrorKind::kSignature;
    error->meaning = "the certificate table does not end the file" + named +
                     ": the launcher refused its own image, extracted nothing and ran nothing";
  } else if (error->lastError < 0 && SignatureAnswerRefuses(answer, signSize)) {
    error->kind = FileErrorKind::kSignature;
    bool digest = answer == kTrustBadDigest || answer == kNteBadSignature;
    error->meaning = std::string(digest ? "the signature no longer matches the file" : "the signature block is damaged") +
                     named + ": the launcher refused its own image, extracted nothing and ran nothing";
  } else if (!expected && !run.commandLogged && IsWorkDirectoryName(error->path)) {
    error->kind = FileErrorKind::kLeftover;
    error->meaning = error->lastError == 0
                         ? error->path + " was a launcher's own leftover and was cleared"
                         : error->path + " was in the way (" + ErrorName(error->lastError) +
                               "): the launcher left it alone and worked in the directory of the dir line";
  } else if (!expected && error->lastError == 2 && !error->path.empty()) {
    error->kind = FileErrorKind::kProgram;
    error->meaning = "the program " + error->path +
                     " was not found where no other user can write (the work directory, the system and Windows "
                     "directories, the machine's PATH): not started";
  } else if (error->lastError == 1155 && !error->path.empty()) {
    error->kind = FileErrorKind::kProgram;
    error->meaning = "the machine's own associations have no open command for " + error->path + ": not started";
  }
}

void Apply(const CLogLine& line, CLogRun* run) {
  std::string rest;
  const std::string& m = line.message;
  if (line.source == UNPACK_LOG_SOURCE_OS_INFO) {
    run->os = m;
  } else if (line.source == UNPACK_LOG_SOURCE_FIND_HEADER && StartsWith(m, UNPACK_LOG_NAME, &rest)) {
    run->executable = rest;
  } else if (line.source == UNPACK_LOG_SOURCE_FIND_HEADER && StartsWith(m, UNPACK_LOG_SIGN_SIZE, &rest)) {
    run->certificateSize = Number(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_FIND_HEADER && StartsWith(m, UNPACK_LOG_HEADER_OFFSET, &rest)) {
    run->headerOffset = Number(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_FIND_HEADER && m == UNPACK_LOG_FIND_FAIL) {
    run->packageFound = false;
  } else if (line.source == UNPACK_LOG_SOURCE_UNPACK_FILES && StartsWith(m, UNPACK_LOG_FILE_NAME, &rest)) {
    run->expected.push_back(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_UNPACK_FILES && StartsWith(m, UNPACK_LOG_COUNT, &rest) &&
             rest.find(UNPACK_LOG_COUNT_FILE) != std::string::npos) {
    run->written.push_back(rest.substr(rest.find(UNPACK_LOG_COUNT_FILE) + Length(UNPACK_LOG_COUNT_FILE)));
  } else if (line.source == UNPACK_LOG_SOURCE_UNPACK_FILES && StartsWith(m, UNPACK_LOG_TOTAL, &rest)) {
    run->totalLogged = Number(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_FILE_EXCEPTION) {
    CFileError error;
    error.message = m;
    error.path = SentencePath(m);
    error.lastError = line.lastError;
    error.reason = ErrorWords(line.lastError, static_cast<std::int32_t>(run->certificateSize));
    Classify(*run, &error);
    if (error.kind == FileErrorKind::kSignature || error.kind == FileErrorKind::kProgram) {
      if (run->refusal.empty()) run->refusal = error.meaning;
    }
    run->fileErrors.push_back(error);
  } else if (line.source == UNPACK_LOG_SOURCE_INIT_INSTANCE && StartsWith(m, UNPACK_LOG_DIR, &rest)) {
    // The last file and param words split the rest: the directory may hold them too.
    std::string::size_type param = rest.rfind(UNPACK_LOG_PARAM);
    std::string::size_type file = param == std::string::npos ? std::string::npos : rest.rfind(UNPACK_LOG_FILE, param);
    if (file != std::string::npos) {
      std::string::size_type name = file + Length(UNPACK_LOG_FILE);
      run->dir = rest.substr(0, file);
      run->file = rest.substr(name, param - name);
      run->param = rest.substr(param + Length(UNPACK_LOG_PARAM));
    } else {
      run->dir = rest;
    }
    run->commandLogged = true;
  } else if (line.source == UNPACK_LOG_SOURCE_INIT_INSTANCE && StartsWith(m, UNPACK_LOG_EXECUTE_WAIT, &rest)) {
    run->childPid = Number(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_INIT_INSTANCE && StartsWith(m, UNPACK_LOG_EXECUTE_DONE, &rest)) {
    run->childDone = true;
    run->childExitCode = Number(rest);
  } else if (line.source == UNPACK_LOG_SOURCE_INIT_INSTANCE && m == UNPACK_LOG_EXECUTE_FAIL) {
    run->executeFailed = true;
  } else if (!(line.source == UNPACK_LOG_SOURCE_INIT_INSTANCE && StartsWith(m, UNPACK_LOG_EXECUTE_OK, &rest))) {
    run->unknown.push_back("[" + line.source + "] " + m);
  }
}

// Files set out to write but never finished, with the file error logged after each.
void CloseFiles(CLogRun* run) {
  std::map<std::string, int> done;
  for (const std::string& file : run->written) ++done[file];
  std::vector<const CFileError*> errors;
  for (const CFileError& error : run->fileErrors) {
    if (error.kind == FileErrorKind::kFile) errors.push_back(&error);
  }
  std::size_t error = 0;
  for (const std::string& file : run->expected) {
    if (done[file]-- > 0) continue;
    run->failed.push_back(CFailedFile{file, error < errors.size() ? errors[error++]->message : ""});
  }
}

}  // namespace

const char* FileErrorKindName(FileErrorKind kind) {
  switch (kind) {
    case FileErrorKind::kFile: return "file";
    case FileErrorKind::kSignature: return "signature";
    case FileErrorKind::kLeftover: return "leftover";
    case FileErrorKind::kProgram: return "program";
  }
  return "";
}

bool ParseLogLine(const std::string& text, CLogLine* line) {
  // "[pid]" then the timestamp (19 characters or none), two blanks, the
  // message, two blanks and "Err:n"; the message may itself hold blanks.
  if (text.empty() || text[0] != '[') return false;
  std::string::size_type close = text.find(']');
  if (close == std::string::npos || close == 1 ||
      text.find_first_not_of("0123456789", 1) != close) {
    return false;
  }
  line->pid = text.substr(1, close - 1);
  std::string::size_type timeEnd = text.find("  ", close + 1);
  std::string::size_type err = text.rfind(UNPACK_LOG_ERR_FIELD);
  if (timeEnd == std::string::npos || err == std::string::npos || err < timeEnd) return false;
  std::string number = text.substr(err + Length(UNPACK_LOG_ERR_FIELD));
  if (number.empty() || number.find_first_not_of("-0123456789") != std::string::npos) return false;
  line->time = text.substr(close + 1, timeEnd - close - 1);
  if (!line->time.empty() && line->time.size() != 19) return false;
  std::string message = err >= timeEnd + 2 ? text.substr(timeEnd + 2, err - timeEnd - 2) : "";
  line->lastError = Number(number);
  line->source.clear();
  if (message.size() > 2 && message[0] == '[' && message.find("] ") != std::string::npos) {
    line->source = message.substr(1, message.find("] ") - 1);
    message = message.substr(message.find("] ") + 2);
  }
  line->message = message;
  return true;
}

CLogDecoded DecodeLog(const std::string& bytes) {
  // The launcher writes UTF-16LE without a byte-order mark: the first
  // character, '[', has a zero high byte. Notepad and PowerShell add a mark
  // when they save the file again (UTF-16LE FF FE, or UTF-8 EF BB BF).
  std::string body = bytes;
  bool utf16 = false;
  if (body.compare(0, 2, "\xFF\xFE") == 0) {
    body.erase(0, 2);
    utf16 = true;
  } else if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    body.erase(0, 3);
  } else {
    utf16 = body.size() >= 2 && body[1] == '\0';
  }
  std::string text = utf16 ? FromUtf16Le(body) : body;
  CLogDecoded decoded;
  std::map<std::string, std::size_t> openRun;  // pid -> index in runs
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    std::string raw = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw.empty()) continue;
    CLogLine line;
    if (!ParseLogLine(raw, &line)) {
      decoded.malformed.push_back(raw);
      continue;
    }
    auto open = openRun.find(line.pid);
    if (line.source == UNPACK_LOG_SOURCE_OS_INFO || open == openRun.end()) {
      decoded.runs.push_back(CLogRun());
      decoded.runs.back().pid = line.pid;
      decoded.runs.back().start = line.time;
      openRun[line.pid] = decoded.runs.size() - 1;
    }
    CLogRun& run = decoded.runs[openRun[line.pid]];
    run.end = line.time;
    Apply(line, &run);
  }
  for (CLogRun& run : decoded.runs) CloseFiles(&run);
  return decoded;
}
