#include "tools/packfile/core/log_decoder.h"

#include <cstdlib>
#include <map>

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

std::int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// Files set out to write but never finished, with the file error logged after each.
void CloseFiles(CLogRun* run) {
  std::map<std::string, int> done;
  for (const std::string& file : run->written) ++done[file];
  std::size_t error = 0;
  for (const std::string& file : run->expected) {
    if (done[file]-- > 0) continue;
    run->failed.push_back(CFailedFile{file, error < run->errors.size() ? run->errors[error++] : ""});
  }
}

void Apply(const CLogLine& line, CLogRun* run) {
  std::string rest;
  const std::string& m = line.message;
  if (line.source == "CUtility::OSInfo") {
    run->os = m;
  } else if (line.source == "CUnPack::FindHeader" && StartsWith(m, "Name:", &rest)) {
    run->executable = rest;
  } else if (line.source == "CUnPack::FindHeader" && StartsWith(m, "Sign Size:", &rest)) {
    run->certificateSize = Number(rest);
  } else if (line.source == "CUnPack::FindHeader" && StartsWith(m, "Header offset:", &rest)) {
    run->headerOffset = Number(rest);
  } else if (line.source == "CUnPack::FindHeader" && m == "Fail") {
    run->packageFound = false;
  } else if (line.source == "CUnPack::UnPackFiles" && StartsWith(m, "UnPack file name:", &rest)) {
    run->expected.push_back(rest);
  } else if (line.source == "CUnPack::UnPackFiles" && StartsWith(m, "UnPack count:", &rest) &&
             rest.find(" File:") != std::string::npos) {
    run->written.push_back(rest.substr(rest.find(" File:") + 6));
  } else if (line.source == "CUnPack::UnPackFiles" && StartsWith(m, "UnPack total ", &rest)) {
    run->totalLogged = Number(rest);
  } else if (line.source == "CUtility::FileException") {
    run->errors.push_back(m);
  } else if (line.source == "CUnPackFileApp::InitInstance" && StartsWith(m, "dir:", &rest)) {
    // "dir:%s file:%s param:%s": the last " file:" and " param:" split it.
    std::string::size_type param = rest.rfind(" param:");
    std::string::size_type file = param == std::string::npos ? std::string::npos : rest.rfind(" file:", param);
    if (file != std::string::npos) {
      run->dir = rest.substr(0, file);
      run->file = rest.substr(file + 6, param - file - 6);
      run->param = rest.substr(param + 7);
    } else {
      run->dir = rest;
    }
    run->commandLogged = true;
  } else if (line.source == "CUnPackFileApp::InitInstance" && StartsWith(m, "execute wait pid:", &rest)) {
    run->childPid = Number(rest);
  } else if (line.source == "CUnPackFileApp::InitInstance" && StartsWith(m, "execute done code:", &rest)) {
    run->childDone = true;
    run->childExitCode = Number(rest);
  } else if (line.source == "CUnPackFileApp::InitInstance" && m == "execute fail") {
    run->executeFailed = true;
  } else if (!(line.source == "CUnPackFileApp::InitInstance" && StartsWith(m, "execute ok ", &rest))) {
    run->unknown.push_back("[" + line.source + "] " + m);
  }
}

}  // namespace

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
  std::string::size_type err = text.rfind("  Err:");
  if (timeEnd == std::string::npos || err == std::string::npos || err < timeEnd) return false;
  std::string number = text.substr(err + 6);
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
    if (line.source == "CUtility::OSInfo" || open == openRun.end()) {
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
