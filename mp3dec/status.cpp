#include "mp3dec/status.h"

#include <iterator>

#include "mp3dec/mp3dec.h"

namespace mp3dec {
namespace {

struct StatusText {
  DecoderStatus code;
  const char* text;
};

constexpr StatusText kMessages[] = {
    {0x00000000, "(Mp3Ssc) success: no error"},
    {0xC0000001, "(Mp3Ssc) error: at least one parameter is wrong"},
    {0xC0000002, "(Mp3Ssc) error: not enough memory"},
    {0xC0000003, "(Mp3Ssc) error: invalid handle"},
    {0x80010001, "(Mp3Ssc) error: I/O - generic error"},
    {0x80010002, "(Mp3Ssc) error: I/O - open failed"},
    {0x80010003, "(Mp3Ssc) error: I/O - close failed"},
    {0x80010004, "(Mp3Ssc) error: I/O - read error"},
    {0x41010001, "(Mp3Ssc) info: Decoder - CRC error"},
    {0x41010002, "(Mp3Ssc) info: Decoder - not enough main data present"},
    {0xC1010001, "(Mp3Ssc) error: Decoder - generic error"},
    {0xC1010002, "(Mp3Ssc) error: Decoder - wrong MPEG layer"},
    {0xC1010003, "(Mp3Ssc) error: Decoder - buffer is too small"},
    {0x81010001, "(Mp3Ssc) warning: Decoder - sync searched"},
    {0x81010002, "(Mp3Ssc) warning: Decoder - sync lost"},
    {0x81010003, "(Mp3Ssc) warning: Decoder - sync need data"},
    {0x81010004, "(Mp3Ssc) warning: Decoder - sync eof"},
};
static_assert(std::size(kMessages) == 17);

}  // namespace

const char* StatusMessage(DecoderStatus status) {
  for (const StatusText& m : kMessages) {
    if (m.code == status) return m.text;
  }
  return "(Mp3Ssc) unknown SSC";
}

}  // namespace mp3dec

const char* Mp3sDecStatusMessage(uint32_t status) { return mp3dec::StatusMessage(status); }
