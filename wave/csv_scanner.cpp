#include "wave/csv_scanner.h"

#include <algorithm>

#include "wave/number_text.h"

namespace kestrune {

bool CsvScanner::MarkContent(Sink& sink) {
  if (lineHasContent_) return true;
  lineHasContent_ = true;
  // CRs at the start of a line converted empty text: zeros.
  for (; pendingEmpty_ > 0; --pendingEmpty_) {
    if (!sink.Value(0.0)) return false;
  }
  return true;
}

bool CsvScanner::EmitValue(const char* begin, const char* end, Sink& sink) {
  dirty_ = false;
  if (!carrying_) return sink.Value(ParseDecimal(begin, end));
  const size_t room = kLongestValue - std::min(kLongestValue, carry_.size());
  const size_t take = std::min(room, static_cast<size_t>(end - begin));
  const size_t kept = carry_.size();
  carry_.append(begin, take);
  const bool ok = sink.Value(ParseDecimal(carry_.data(), carry_.data() + carry_.size()));
  carry_.resize(kept);
  return ok;
}

bool CsvScanner::Feed(const char* data, size_t size, Sink& sink) {
  const char* start = data;  // of the current value within this piece
  const char* end = data + size;
  for (const char* p = data; p < end; ++p) {
    const char c = *p;
    if (c == ',') {
      if (!MarkContent(sink) || !EmitValue(start, p, sink)) return false;
      carry_.clear();
      carrying_ = false;
      start = p + 1;
    } else if (c == '\r') {
      if (lineHasContent_) {
        if (!EmitValue(start, p, sink)) return false;
      } else {
        ++pendingEmpty_;
        dirty_ = false;
      }
    } else if (c == '\n') {
      // Text not yet converted (a line ended by LF alone) is a value too.
      if (dirty_ && !EmitValue(start, p, sink)) return false;
      carry_.clear();
      carrying_ = false;
      start = p + 1;
      dirty_ = false;
      pendingEmpty_ = 0;
      if (lineHasContent_) {
        lineHasContent_ = false;
        if (!sink.LineEnd(false)) return false;
      }
    } else {
      dirty_ = true;
      if (!lineHasContent_ && !MarkContent(sink)) return false;
    }
  }
  if (start < end) {
    const size_t room = kLongestValue - std::min(kLongestValue, carry_.size());
    carry_.append(start, std::min(room, static_cast<size_t>(end - start)));
    carrying_ = true;
  }
  return true;
}

bool CsvScanner::Finish(Sink& sink) {
  bool ok = true;
  if (dirty_ && carrying_) {
    ok = sink.Value(ParseDecimal(carry_.data(), carry_.data() + carry_.size()));
  }
  dirty_ = false;
  carry_.clear();
  carrying_ = false;
  pendingEmpty_ = 0;
  if (ok && lineHasContent_) ok = sink.LineEnd(true);
  lineHasContent_ = false;
  return ok;
}

}  // namespace kestrune
