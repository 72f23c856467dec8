#include "codec/bit_io.h"

#include "codec/codec_status.h"

namespace wif {

void BitWriter::Terminate() {
  Drain();
  sink_.Put(PartialByte());
  sink_.Put(0x00);
  sink_.Put(0x00);
  sink_.Put(0xFF);
  Reset();
}

void BitReader::LoadPastEnd() {
  // Once the stream has failed its callers are on their way out; the count
  // stays where it stopped.
  if (failed_) return;
  ++pastEnd_;
  if (pastEnd_ > kMaxReadsPastEnd) Fail();
}

void BitReader::Fail() {
  if (!failed_) Report(kMsgBadInput);
  failed_ = true;
}

bool BitReader::SkipTerminator() {
  GiveBack();
  left_ = 0;
  for (;;) {
    const int byte = source_.Get();
    if (byte < 0) {
      Fail();
      return false;
    }
    if (byte == 0xFF) return true;
  }
}

bool BitReader::ReadBigEndian(int bytes, uint32_t& value) {
  GiveBack();
  left_ = 0;
  value = 0;
  for (int i = 0; i < bytes; ++i) {
    const int byte = source_.Get();
    if (byte < 0) {
      Fail();
      return false;
    }
    value = (value << 8) | static_cast<uint32_t>(byte);
  }
  return true;
}

}  // namespace wif
