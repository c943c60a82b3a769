// Splits CSV text into values and lines. "," ends a value; CR converts the
// value so far but leaves its start where it is (so "1\r2," yields 1 twice,
// as a decimal conversion of "1\r2" stops at the CR); LF starts a new value
// and ends the line, converting text that no CR has converted (lines ended
// by LF alone). Values convert like strtod (0 for text that is not a
// number). Lines holding nothing but CRs are dropped with their values.
#pragma once

#include <cstddef>
#include <string>

namespace kestrune {

class CsvScanner {
 public:
  // A value is never kept longer than this; the rest of it is ignored.
  static constexpr size_t kLongestValue = 1 << 20;

  class Sink {
   public:
    virtual ~Sink() = default;
    // false stops the scan.
    virtual bool Value(double value) = 0;
    // The end of a line that held at least one value; last is true for the
    // line ended by the end of the input rather than by LF.
    virtual bool LineEnd(bool last) = 0;
  };

  // false when the sink stopped the scan.
  bool Feed(const char* data, size_t size, Sink& sink);
  // Converts text left after the last separator and ends the last line.
  bool Finish(Sink& sink);

 private:
  bool EmitValue(const char* begin, const char* end, Sink& sink);
  bool MarkContent(Sink& sink);

  std::string carry_;          // start of a value that began in an earlier piece
  bool carrying_ = false;
  bool dirty_ = false;         // characters since the last conversion
  bool lineHasContent_ = false;
  size_t pendingEmpty_ = 0;    // values of CRs met before any content
};

}  // namespace kestrune
