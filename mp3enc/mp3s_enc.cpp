// The C-style interface over mp3enc::Encoder: handle validation by a stored
// self pointer, statuses, and the library-information record.
#include "mp3enc/mp3s_enc.h"

#include <new>

#include "mp3enc/encoder.h"

struct Mp3sEncObject {
  Mp3sEncObject* self = nullptr;
  mp3enc::Encoder encoder;
};

namespace {

constexpr Mp3sEncLibInfo kLibInfo = {
    "RoR-IZA MP3sEnc Libinfo", "04.01.02", "2010-02-10", "Feb 10 2010"};

Mp3sEncObject* Valid(Mp3sEncHandle handle) {
  return handle != nullptr && handle->self == handle ? handle : nullptr;
}

void Release(Mp3sEncObject* object) {
  object->self = nullptr;
  delete object;
}

}  // namespace

const Mp3sEncLibInfo* Mp3sEncGetLibInfo() { return &kLibInfo; }

int32_t Mp3sEncOpen(Mp3sEncHandle* handle, int32_t inputRate, int32_t bitRate,
                    int32_t channels, int32_t ratePolicy, int32_t qualityLevel) {
  if (handle == nullptr) return MP3SENC_INVALID_PARAMETER;
  *handle = nullptr;
  Mp3sEncObject* object = new (std::nothrow) Mp3sEncObject();
  if (object == nullptr) return MP3SENC_OUT_OF_MEMORY;
  object->self = object;
  int32_t status = MP3SENC_OUT_OF_MEMORY;
  try {
    status = object->encoder.Configure(inputRate, bitRate, channels, ratePolicy, qualityLevel);
  } catch (const std::bad_alloc&) {
    status = MP3SENC_OUT_OF_MEMORY;
  }
  if (status != MP3SENC_OK) {
    // Nothing of a failed open stays allocated; the caller gets no handle.
    Release(object);
    return status;
  }
  *handle = object;
  return MP3SENC_OK;
}

int32_t Mp3sEncPrepareWithCore(Mp3sEncHandle handle, int32_t* blockSize,
                               const mp3enc::CoreFactory& factory) {
  Mp3sEncObject* object = Valid(handle);
  if (object == nullptr || blockSize == nullptr || object->encoder.Prepared()) {
    return MP3SENC_INVALID_HANDLE;
  }
  int32_t status = MP3SENC_INVALID_PARAMETER;
  try {
    status = object->encoder.Prepare(factory, blockSize);
  } catch (const std::exception&) {
    status = MP3SENC_INVALID_PARAMETER;
  }
  if (status != MP3SENC_OK) {
    Release(object);
    return MP3SENC_INVALID_PARAMETER;
  }
  return MP3SENC_OK;
}

const mp3enc::Encoder* Mp3sEncObjectOf(Mp3sEncHandle handle) {
  Mp3sEncObject* object = Valid(handle);
  return object != nullptr ? &object->encoder : nullptr;
}

int32_t Mp3sEncGetInfo(Mp3sEncInfo* info, Mp3sEncHandle handle) {
  Mp3sEncObject* object = Valid(handle);
  if (info == nullptr || object == nullptr) return MP3SENC_INVALID_HANDLE;
  object->encoder.GetInfo(info);
  return MP3SENC_OK;
}

int32_t Mp3sEncGetAncillaryBytes(Mp3sEncHandle handle) {
  Mp3sEncObject* object = Valid(handle);
  return object != nullptr ? object->encoder.AncillaryBytes() : 0;
}

int32_t Mp3sEncSetOption(Mp3sEncHandle handle, int32_t option) {
  Mp3sEncObject* object = Valid(handle);
  if (object == nullptr) return MP3SENC_INVALID_HANDLE;
  return object->encoder.SetOption(option);
}

int32_t Mp3sEncEncode(Mp3sEncHandle handle, float* samples, int32_t* sampleCount,
                      int32_t* nextBlock, int32_t outCapacity, uint8_t* out,
                      int32_t* outBytes) {
  Mp3sEncObject* object = Valid(handle);
  if (object == nullptr || !object->encoder.Prepared()) return MP3SENC_INVALID_HANDLE;
  try {
    return object->encoder.Encode(samples, sampleCount, nextBlock, outCapacity, out,
                                  outBytes);
  } catch (const std::exception&) {
    return MP3SENC_INVALID_HANDLE;
  }
}

int32_t Mp3sEncClose(Mp3sEncHandle handle) {
  Mp3sEncObject* object = Valid(handle);
  if (object != nullptr) Release(object);
  return MP3SENC_OK;
}
