#include "conversion/sources.h"

#include <algorithm>
#include <cstring>

#include "conversion/cue_text.h"

namespace orvane {

std::ptrdiff_t MemorySource::Read(char* buffer, std::size_t size) {
  const std::size_t count = std::min(size, bytes_.size() - read_);
  if (count != 0) std::memcpy(buffer, bytes_.data() + read_, count);
  read_ += count;
  return static_cast<std::ptrdiff_t>(count);
}

std::ptrdiff_t MemorySource::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (offset > bytes_.size()) return -1;
  const auto count =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, bytes_.size() - offset));
  if (count != 0) std::memcpy(buffer, bytes_.data() + offset, count);
  return static_cast<std::ptrdiff_t>(count);
}

RereadableSource::RereadableSource(CaptionSource& stream, std::size_t hold_limit)
    : stream_(stream), hold_limit_(hold_limit) {}

std::ptrdiff_t RereadableSource::Read(char* buffer, std::size_t size) {
  if (!DropBefore(std::min(keep_from_, end_))) return -1;
  const std::ptrdiff_t count = stream_.Read(buffer, size);
  if (count <= 0) return count;
  const auto length = static_cast<std::size_t>(count);
  if (!Hold(buffer, length)) return -1;
  end_ += length;
  return count;
}

std::ptrdiff_t RereadableSource::ReadAt(std::uint64_t offset, char* buffer, std::size_t size) {
  if (offset < begin_ || offset > end_) return -1;
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, end_ - offset));
  if (spilled_) return spill_.ReadAt(offset - begin_, buffer, count);
  std::copy_n(held_.data() + (offset - begin_), count, buffer);
  return static_cast<std::ptrdiff_t>(count);
}

bool RereadableSource::DropBefore(std::uint64_t offset) {
  if (offset <= begin_) return true;
  if (!spilled_) {
    held_.erase(0, static_cast<std::size_t>(offset - begin_));
    begin_ = offset;
    return true;
  }
  // The spill goes on holding everything until what is kept fits in memory.
  const std::uint64_t kept = end_ - offset;
  if (kept > hold_limit_) return true;
  std::string tail;
  tail.reserve(static_cast<std::size_t>(kept));
  std::string buffer(std::min<std::size_t>(hold_limit_, 1 << 16) + 1, '\0');
  const std::uint64_t from = offset - begin_;
  if (!ReadRange(spill_, {from, from + kept}, buffer,
                 [&tail](std::string_view bytes) { tail.append(bytes); })) {
    return false;
  }
  spilled_ = false;
  held_ = std::move(tail);
  begin_ = offset;
  return spill_.Clear();
}

bool RereadableSource::Hold(const char* data, std::size_t size) {
  if (!spilled_ && held_.size() + size <= hold_limit_) {
    held_.append(data, size);
    return true;
  }
  if (!spilled_) {
    if (!spill_.Append(held_.data(), held_.size())) return false;
    spilled_ = true;
    held_.clear();
    held_.shrink_to_fit();
  }
  return spill_.Append(data, size);
}

bool IsUtf16Mark(std::string_view bytes, bool& big_endian) {
  if (bytes.size() < 2) return false;
  big_endian = bytes[0] == '\xFE' && bytes[1] == '\xFF';
  return big_endian || (bytes[0] == '\xFF' && bytes[1] == '\xFE');
}

namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;
constexpr std::size_t kUtf16Block = 64 * 1024;

}  // namespace

std::ptrdiff_t Utf16Source::Read(char* buffer, std::size_t size) {
  while (handed_ == decoded_.size() && !ended_) {
    decoded_.clear();
    handed_ = 0;
    Decode();
    if (!decoded_.empty()) break;
    const std::size_t held = raw_.size();
    raw_.resize(held + kUtf16Block);
    const std::ptrdiff_t count = stream_.Read(raw_.data() + held, kUtf16Block);
    raw_.resize(held + static_cast<std::size_t>(std::max<std::ptrdiff_t>(count, 0)));
    if (count < 0) return -1;
    if (count == 0) {
      ended_ = true;
      if (high_ != 0) AppendUtf8(kReplacement, decoded_);
      if (!raw_.empty()) AppendUtf8(kReplacement, decoded_);  // a last odd byte
      high_ = 0;
      raw_.clear();
    }
  }
  const std::size_t count = std::min(size, decoded_.size() - handed_);
  std::memcpy(buffer, decoded_.data() + handed_, count);
  handed_ += count;
  return static_cast<std::ptrdiff_t>(count);
}

void Utf16Source::Decode() {
  std::size_t at = 0;
  for (; at + 1 < raw_.size(); at += 2) {
    const auto first = static_cast<unsigned char>(raw_[at]);
    const auto second = static_cast<unsigned char>(raw_[at + 1]);
    const std::uint32_t unit = big_endian_ ? (first << 8) | second : (second << 8) | first;
    if (high_ != 0) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        AppendUtf8(0x10000 + ((high_ - 0xD800) << 10) + (unit - 0xDC00), decoded_);
        high_ = 0;
        continue;
      }
      AppendUtf8(kReplacement, decoded_);
      high_ = 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
    } else {
      AppendUtf8(unit >= 0xDC00 && unit <= 0xDFFF ? kReplacement : unit, decoded_);
    }
  }
  raw_.erase(0, at);
}

}  // namespace orvane
