#include "tools/serve/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace tarvion::serve {
namespace {

constexpr std::string_view kMagic = "TJ1 ";
// A header line is short; anything longer is garbage, not a record.
constexpr size_t kMaxHeader = 40;

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool readFile(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return n == 0;
    }
    out.append(buf, static_cast<size_t>(n));
  }
}

void syncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

uint32_t crc32(std::string_view data) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::string frameRecord(std::string_view payload) {
  char header[kMaxHeader];
  const int n = std::snprintf(header, sizeof header, "TJ1 %zu %08x\n", payload.size(), crc32(payload));
  std::string out(header, static_cast<size_t>(n));
  out.append(payload);
  out += '\n';
  return out;
}

std::vector<std::string> readFrames(std::string_view data, size_t& goodBytes) {
  std::vector<std::string> out;
  size_t pos = 0;
  goodBytes = 0;
  while (pos < data.size()) {
    const std::string_view rest = data.substr(pos);
    const size_t eol = rest.substr(0, kMaxHeader).find('\n');
    if (eol == std::string_view::npos || rest.substr(0, kMagic.size()) != kMagic) break;
    const std::string_view header = rest.substr(kMagic.size(), eol - kMagic.size());
    const size_t space = header.find(' ');
    if (space == std::string_view::npos || header.size() - space - 1 != 8) break;
    size_t length = 0;
    uint32_t sum = 0;
    auto a = std::from_chars(header.data(), header.data() + space, length);
    auto b = std::from_chars(header.data() + space + 1, header.data() + header.size(), sum, 16);
    if (a.ec != std::errc() || a.ptr != header.data() + space || b.ec != std::errc() ||
        b.ptr != header.data() + header.size())
      break;
    const size_t start = eol + 1;
    if (length > rest.size() - start || rest.size() - start - length < 1 || rest[start + length] != '\n') break;
    const std::string_view payload = rest.substr(start, length);
    if (crc32(payload) != sum) break;
    out.emplace_back(payload);
    pos += start + length + 1;
    goodBytes = pos;
  }
  return out;
}

std::string encodeRecord(const JournalRecord& r) {
  nlohmann::json j = {{"time", r.time}, {"kind", r.kind},     {"printer", r.printer}, {"key", r.key},
                      {"hash", r.hash}, {"status", r.status}, {"answer", r.answer}};
  return j.dump();
}

bool decodeRecord(std::string_view payload, JournalRecord& r) {
  const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
  if (!j.is_object()) return false;
  try {
    r.time = j.at("time").get<int64_t>();
    r.kind = j.at("kind").get<std::string>();
    r.printer = j.at("printer").get<std::string>();
    r.key = j.at("key").get<std::string>();
    r.hash = j.at("hash").get<uint64_t>();
    r.status = j.at("status").get<int>();
    r.answer = j.at("answer").get<std::string>();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return r.kind == "start" || r.kind == "done";
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

bool Journal::open(const std::string& dir, int64_t now, int64_t retentionSeconds, std::vector<JournalRecord>& records,
                   std::string& error) {
  records.clear();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    error = "cannot create the journal folder " + dir + ": " + ec.message();
    return false;
  }
  dir_ = dir;
  path_ = (std::filesystem::path(dir) / "journal").string();
  retentionSeconds_ = retentionSeconds;
  return rewrite(now, records, error) && openForAppend(error);
}

bool Journal::rewrite(int64_t now, std::vector<JournalRecord>& records, std::string& error) {
  std::string data;
  if (!readFile(path_, data)) {
    error = "cannot read " + path_ + ": " + std::strerror(errno);
    return false;
  }
  size_t good = 0;
  bool dropped = false;
  for (const std::string& payload : readFrames(data, good)) {
    JournalRecord r;
    if (!decodeRecord(payload, r) || now - r.time > retentionSeconds_) {
      dropped = true;
      continue;
    }
    records.push_back(std::move(r));
  }
  size_ = data.size();
  if (dropped || good != data.size()) {
    // Rewritten whole beside the old file and renamed over it, so a crash here
    // leaves one complete journal or the other.
    const std::string tmp = path_ + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    size_ = 0;
    for (size_t i = 0; ok && i < records.size(); ++i) {
      const std::string frame = frameRecord(encodeRecord(records[i]));
      ok = writeAll(fd, frame);
      size_ += frame.size();
    }
    if (ok) ok = ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path_.c_str()) != 0) {
      error = "cannot rewrite " + path_ + ": " + std::strerror(errno);
      return false;
    }
    syncFolder(dir_);
  }
  sizeAfterRewrite_ = size_;
  return true;
}

bool Journal::openForAppend(std::string& error) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error = "cannot open " + path_ + ": " + std::strerror(errno);
    return false;
  }
  syncFolder(dir_);
  return true;
}

bool Journal::append(const JournalRecord& r) {
  if (fd_ < 0) return false;
  // One write of the whole frame: with O_APPEND it lands at the end in one
  // piece, or is torn only by a crash, which the reader detects.
  const std::string frame = frameRecord(encodeRecord(r));
  if (!writeAll(fd_, frame) || ::fdatasync(fd_) != 0) return false;
  size_ += frame.size();
  if (size_ < compactionFloor_ || size_ < 2 * sizeAfterRewrite_) return true;
  // The record is on the disk already: a compaction that fails leaves the file
  // as it was, still whole, and the next append tries again.
  ::close(fd_);
  fd_ = -1;
  std::vector<JournalRecord> kept;
  std::string error;
  const bool rewritten = rewrite(r.time, kept, error);
  if (!openForAppend(error)) return false;
  if (!rewritten) sizeAfterRewrite_ = size_;  // no retry on every append
  return true;
}

}  // namespace tarvion::serve
